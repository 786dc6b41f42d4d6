#include "Intake/CaptureTesting.h"

#include "Support/ImageFixtures.h"
#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Images/ImageSource.h"
#include "Velmarin/Intake/CaptureIntake.h"
#include "Velmarin/Intake/CaptureProbe.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <sys/xattr.h>

using namespace tolvex;
using namespace tolvex::testing;

TEST(CaptureProbeTest, BadInputGivesNoCandidateOrAnUndecodableOneWithoutBeingRead)
{
    QTemporaryDir folder;
    const auto at = [&](const char* name) { return folder.filePath(QString::fromLatin1(name)); };
    const QByteArray png = test::encodeImage(test::patternImage(40, 30), "png");
    writeFile(at("whole.png"), png);
    writeFile(at("cut.png"), png.left(png.size() - 20));
    writeFile(at("bomb.png"), test::craftedPng(100000, 100000));
    // Whole, and one pixel over the budget or exactly at it.
    writeFile(at("over.png"), test::craftedPng(8193, 4096));
    writeFile(at("budget.png"), test::craftedPng(8192, 4096));
    writeFile(at("cut-over.png"), test::craftedPng(8193, 4096).chopped(12));
    writeFile(at("empty.png"), {});
    ASSERT_EQ(::mkfifo(QFile::encodeName(at("fifo.png")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(at("whole.png"), at("link.png")));
    ASSERT_TRUE(QDir().mkdir(at("folder.png")));
    QFile huge(at("huge.png"));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(CaptureProbe::maxByteCount + 1));
    huge.close();
    const bool marks = ::setxattr(QFile::encodeName(at("whole.png")).constData(), CaptureProbe::screenCaptureAttribute,
                           "1", 1, 0)
        == 0;

    struct Case {
        const char* name;
        bool candidate;
        bool decodable;
        bool overBudget = false;
    };
    const std::vector<Case> cases{
        {"whole.png", true, true},
        {"cut.png", true, false},
        {"bomb.png", true, false, true},
        {"over.png", true, false, true},
        // Within the budget; its pixels were never written, so it does not decode.
        {"budget.png", true, false, false},
        // Not finished: what it will become is not known yet.
        {"cut-over.png", true, false, false},
        {"empty.png", true, false},
        // Never opened: a FIFO would block the probe for good.
        {"fifo.png", false, false},
        {"link.png", false, false},
        {"folder.png", false, false},
        {"huge.png", false, false},
        {"missing.png", false, false},
    };
    for (const Case& c : cases) {
        const QUrl url = QUrl::fromLocalFile(at(c.name));
        const std::optional<CaptureCandidate> found = CaptureProbe::probe(url, false);
        ASSERT_EQ(found.has_value(), c.candidate) << c.name;
        if (!found)
            continue;
        EXPECT_EQ(found->decodable, c.decodable) << c.name;
        EXPECT_EQ(found->overBudget, c.overBudget) << c.name;
        EXPECT_EQ(found->byteCount, QFileInfo(at(c.name)).size()) << c.name;
        EXPECT_EQ(found->systemScreenshotMarked, marks && QByteArray(c.name) == "whole.png") << c.name;
        // Where only marked captures count, an unmarked file is not even looked at.
        EXPECT_EQ(CaptureProbe::probe(url, true).has_value(), found->systemScreenshotMarked) << c.name;
    }
}

// What the intake decides over the probe's looks is what it decides over
// complete looks (the whole file read and decoded every time), while a file
// is decoded at most once in each state it is found in, and a file decided
// ready comes with the picture of exactly its bytes.
TEST(CaptureProbeTest, LooksDecideAsCompleteLooksWhileEachStateIsDecodedOnce)
{
    using Case = CaptureDecision::Case;
    QTemporaryDir folder;
    const QByteArray png = test::encodeImage(test::patternImage(40, 30), "png");
    const QDateTime base = QDateTime::currentDateTimeUtc().addSecs(-100);
    using Change = std::function<void(const QString& path)>;
    const auto write = [](const QByteArray& bytes) -> Change {
        return [bytes](const QString& path) { writeFile(path, bytes); };
    };
    const auto redate = [&](int seconds) -> Change {
        return [=](const QString& path) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            ASSERT_TRUE(file.setFileTime(base.addSecs(seconds), QFileDevice::FileModificationTime));
        };
    };
    const auto then = [](Change first, Change second) -> Change {
        return [=](const QString& path) {
            first(path);
            second(path);
        };
    };
    const Change none = [](const QString&) {};
    struct Step {
        Change change;
        double now;
        Case decision;
    };
    struct Scenario {
        const char* name;
        std::vector<Step> steps;
        int decodes;
    };
    const std::vector<Scenario> scenarios{
        {"stable", {{write(png), 0, Case::wait}, {none, 0.2, Case::ready}, {none, 0.4, Case::ignore}}, 1},
        {"growing",
            {{write(png.left(png.size() / 2)), 0, Case::wait}, {write(png), 0.1, Case::wait}, {none, 0.2, Case::wait},
                {none, 0.35, Case::ready}},
            1},
        {"truncated", {{write(png.left(png.size() - 20)), 0, Case::wait}, {none, 0.2, Case::wait},
                          {none, 5.0, Case::failed}, {none, 5.2, Case::ignore}},
            0},
        {"not an image", {{write("plain text"), 0, Case::wait}, {none, 5.0, Case::failed}, {none, 5.2, Case::ignore}}, 0},
        {"empty", {{write({}), 0, Case::wait}, {none, 0.2, Case::wait}, {none, 5.0, Case::failed}}, 0},
        {"whole structure, pixels that do not decode",
            {{write(test::craftedPng(64, 64)), 0, Case::wait}, {none, 0.2, Case::wait}, {none, 5.0, Case::failed},
                {none, 5.2, Case::ignore}, {write(png), 5.3, Case::wait}, {none, 5.5, Case::ready}},
            2},
        {"whole, over the pixel budget: refused once stable, taken once replaced",
            {{write(test::craftedPng(8193, 4096)), 0, Case::wait}, {none, 0.2, Case::tooLarge},
                {none, 0.4, Case::ignore}, {write(png), 0.5, Case::wait}, {none, 0.7, Case::ready}},
            1},
        {"cut, over the pixel budget",
            {{write(test::craftedPng(8193, 4096).chopped(12)), 0, Case::wait}, {none, 0.2, Case::wait},
                {none, 5.0, Case::failed}},
            0},
        {"changing date",
            {{then(write(png), redate(0)), 0, Case::wait}, {redate(10), 0.1, Case::wait}, {none, 0.2, Case::wait},
                {none, 0.35, Case::ready}},
            2},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        const QString path = folder.filePath(QString::fromLatin1(scenario.name) + QStringLiteral(".png"));
        const QUrl url = QUrl::fromLocalFile(path);
        CaptureProbe probe;
        CaptureIntake complete;
        CaptureIntake looked;
        for (const Step& step : scenario.steps) {
            SCOPED_TRACE(step.now);
            step.change(path);
            const Date now = Date::fromUnixSeconds(1000 + step.now);
            const std::optional<CaptureCandidate> reference = CaptureProbe::probe(url, false);
            QFuture<CaptureProbe::Look> looking = probe.inspect(url, false);
            const CaptureProbe::Look look = looking.result();
            // The decode a look asks for runs before anything queued after it.
            probe.inspect(QUrl::fromLocalFile(folder.filePath(QStringLiteral("absent.png"))), false).waitForFinished();
            ASSERT_TRUE(reference && look.candidate);
            EXPECT_EQ(complete.observe(*reference, now).kind, step.decision);
            EXPECT_EQ(looked.observe(*look.candidate, now).kind, step.decision);
            if (step.decision == Case::ready) {
                QFile file(path);
                ASSERT_TRUE(file.open(QIODevice::ReadOnly));
                const QByteArray bytes = file.readAll();
                ASSERT_TRUE(look.picture);
                EXPECT_EQ(look.picture->sha256, ContentStore::digest(bytes));
                EXPECT_EQ(look.picture->image, ImageSource::create(bytes)->decodeImage(0));
            }
        }
        EXPECT_EQ(probe.decodeCount(), scenario.decodes);
    }
}

// Many files at once: decoding them all at their first looks would hold
// every import back until the last decode. Only the first is decoded at
// once; each of the others at the look that may find it ready, which still
// answers as a complete look does and brings the picture of its bytes.
TEST(CaptureProbeTest, ABurstIsDecodedFileByFileAtTheLooksThatMayFindThemReady)
{
    QTemporaryDir folder;
    QList<QUrl> urls;
    QList<QByteArray> files;
    for (int i = 0; i < 4; ++i) {
        files.append(test::encodeImage(test::patternImage(40 + i, 30), "png"));
        const QString path = folder.filePath(QStringLiteral("shot %1.png").arg(i));
        writeFile(path, files.last());
        urls.append(QUrl::fromLocalFile(path));
    }
    CaptureProbe probe;
    for (const QUrl& url : urls) {
        const CaptureProbe::Look look = probe.inspect(url, false).result();
        ASSERT_TRUE(look.candidate);
        EXPECT_TRUE(look.candidate->decodable);
    }
    EXPECT_EQ(probe.decodeCount(), 1);
    for (qsizetype i = 0; i < urls.size(); ++i) {
        SCOPED_TRACE(i);
        const CaptureProbe::Look look = probe.inspect(urls[i], false).result();
        ASSERT_TRUE(look.candidate && look.picture);
        EXPECT_EQ(*look.candidate, *CaptureProbe::probe(urls[i], false));
        EXPECT_EQ(look.picture->sha256, ContentStore::digest(files[i]));
    }
    EXPECT_EQ(probe.decodeCount(), urls.size());
}
