#include "Intake/CaptureTesting.h"

#include "Support/ImageFixtures.h"
#include "Velmarin/Intake/CaptureProbe.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
    };
    const std::vector<Case> cases{
        {"whole.png", true, true},
        {"cut.png", true, false},
        {"bomb.png", true, false},
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
        EXPECT_EQ(found->byteCount, QFileInfo(at(c.name)).size()) << c.name;
        EXPECT_EQ(found->systemScreenshotMarked, marks && QByteArray(c.name) == "whole.png") << c.name;
        // Where only marked captures count, an unmarked file is not even looked at.
        EXPECT_EQ(CaptureProbe::probe(url, true).has_value(), found->systemScreenshotMarked) << c.name;
    }
}
