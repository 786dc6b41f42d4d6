#include "ActionsTesting.h"

#include "Support/ImageFixtures.h"
#include "TolvexCore/Store/Internal/StoreExecutor.h"
#include "Velmarin/Actions/OwnedCopyMarker.h"
#include "Velmarin/Platform/NoApplicationError.h"
#include "Velmarin/Platform/OpenFailedError.h"
#include "Velmarin/Platform/RevealFailedError.h"
#include "Velmarin/Presentation/AppLocalizer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>

namespace tolvex {
namespace {

using namespace testing;
using namespace test;

constexpr QFile::Permissions anyExecute = QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther;

void makeExecutable(const QString& path)
{
    QFile::setPermissions(path, QFile::permissions(path) | anyExecute);
}

// Each kind's representation comes first and the marker last; the source
// line changes texts only; PDFs and files go out as fresh copies that
// cannot be run.
TEST(MaterialActionsTests, CopyPutsEachKindOnTheClipboard)
{
    ActionsFixture fixture;
    const QImage picture = patternImage(32, 20);
    const QUuid image = fixture.add(encodeImage(picture, "png"), MaterialKind::image, QStringLiteral("png")).id;
    const QUuid text = fixture.add("Hello", MaterialKind::text, QStringLiteral("txt")).id;
    const QUuid pdf = fixture.add("%PDF-1.4 tiny", MaterialKind::pdf, QStringLiteral("pdf")).id;
    MaterialRecord& fileRecord = fixture.add("#!/bin/sh\necho hi\n", MaterialKind::file, QStringLiteral("sh"));
    fileRecord.source.filePath = QStringLiteral("/home/someone/run.sh");
    const QUuid file = fileRecord.id;
    makeExecutable(fixture.builder.path(fileRecord.versions.first().relativePath));
    fixture.start();

    const Localizer localizer = appLocalizer();
    const QString missing = QStringLiteral("Hello\n\n") + localizer.string(MessageKey::sourceLabel) + u' '
        + localizer.string(MessageKey::sourceMissing);
    const QString uriList = QStringLiteral("text/uri-list");
    const struct {
        const char* name;
        QUuid id;
        bool includeSource;
        QStringList formats;
        std::function<void(const QMimeData&)> check;
    } cases[] = {
        {"image, source line ignored", image, true, {QStringLiteral("image/png"), ownedCopyMimeType},
            [&](const QMimeData& data) {
                EXPECT_EQ(QImage::fromData(data.data(QStringLiteral("image/png"))).convertToFormat(picture.format()),
                    picture);
            }},
        {"text", text, false, {QStringLiteral("text/plain"), ownedCopyMimeType},
            [](const QMimeData& data) { EXPECT_EQ(data.text(), QStringLiteral("Hello")); }},
        {"text with a source that describes to nothing", text, true,
            {QStringLiteral("text/plain"), ownedCopyMimeType},
            [&](const QMimeData& data) { EXPECT_EQ(data.text(), missing); }},
        {"pdf", pdf, false, {uriList, ownedCopyMimeType},
            [&](const QMimeData& data) {
                const QString copy = data.urls().value(0).toLocalFile();
                EXPECT_TRUE(QFileInfo(copy).fileName().startsWith(QStringLiteral("Tolvex-"))) << copy.toStdString();
                EXPECT_TRUE(copy.endsWith(QStringLiteral(".pdf")));
            }},
        {"file, named after its source, not executable", file, true, {uriList, ownedCopyMimeType},
            [&](const QMimeData& data) {
                const QString copy = data.urls().value(0).toLocalFile();
                EXPECT_EQ(QFileInfo(copy).fileName(), QStringLiteral("run.sh"));
                EXPECT_EQ(QFileInfo(copy).dir().dirName(), QFileInfo(copy).dir().dirName().toUpper());
                EXPECT_EQ(QFile::permissions(copy) & anyExecute, QFile::Permissions());
                QFile read(copy);
                ASSERT_TRUE(read.open(QIODevice::ReadOnly));
                EXPECT_EQ(read.readAll(), QByteArray("#!/bin/sh\necho hi\n"));
            }},
    };
    for (const auto& c : cases) {
        fixture.clipboard.written.clear();
        ASSERT_FALSE(fixture.attempt(fixture.actions->copy(c.id, c.includeSource))) << c.name;
        ASSERT_EQ(fixture.clipboard.written.size(), 1u) << c.name;
        const QMimeData& data = *fixture.clipboard.written.front();
        EXPECT_EQ(data.formats(), c.formats) << c.name;
        EXPECT_EQ(data.data(ownedCopyMimeType), QByteArray("1")) << c.name;
        EXPECT_EQ(fixture.line->copiedID(), std::optional<QUuid>(c.id)) << c.name;
        if (c.check)
            c.check(data);
    }
    // A copy of a PDF or file each time, each in a folder of its own.
    EXPECT_EQ(fixture.exports().size(), 2);
}

// Failures write nothing and leave the copied mark alone: an unknown
// material, an undecodable image, a refused write, and a cover that comes
// after the store answered (the copy it exported stays in "Exports").
TEST(MaterialActionsTests, FailedCopiesWriteNothing)
{
    ActionsFixture fixture;
    const QUuid broken = fixture.add(QByteArray("\x89PNG\r\n\x1a\n not really"), MaterialKind::image,
        QStringLiteral("png")).id;
    const QUuid text = fixture.add("Hello", MaterialKind::text, QStringLiteral("txt")).id;
    const QUuid file = fixture.add("data", MaterialKind::file, QStringLiteral("bin")).id;
    fixture.start();

    const auto coverAfterTheStoreAnswers = [&] {
        // The executor is held until the copy has asked for its payload; a
        // job queued behind that request covers the line, so the cover
        // reaches the GUI thread right after the store's answer.
        auto gate = std::make_shared<QSemaphore>();
        [[maybe_unused]] QFuture<void> held = fixture.store->executor().run([gate](auto&) { gate->acquire(); });
        QCoro::Task<void> copying = fixture.actions->copy(file, false);
        Line* line = fixture.line.get();
        [[maybe_unused]] QFuture<void> cover = fixture.store->executor().run([line](auto&) {
            QMetaObject::invokeMethod(line, [line] { line->coverImmediately(); }, Qt::QueuedConnection);
        });
        gate->release();
        return fixture.attempt(std::move(copying));
    };
    const struct {
        const char* name;
        std::function<std::exception_ptr()> run;
        bool invalidSource;
        qsizetype exports;
    } cases[] = {
        {"undecodable image", [&] { return fixture.attempt(fixture.actions->copy(broken, false)); }, false, 0},
        {"refused write",
            [&] {
                fixture.clipboard.accepts = false;
                const std::exception_ptr error = fixture.attempt(fixture.actions->copy(text, false));
                fixture.clipboard.accepts = true;
                EXPECT_TRUE(isStoreError(error, StoreError::unavailableSpace()));
                return error;
            },
            false, 0},
        {"cover after the store answered", coverAfterTheStoreAnswers, true, 1},
    };
    for (const auto& c : cases) {
        const std::exception_ptr error = c.run();
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(isStoreError(error, StoreError::invalidSource()), c.invalidSource) << c.name;
        EXPECT_TRUE(fixture.clipboard.written.empty()) << c.name;
        EXPECT_FALSE(fixture.line->copiedID().has_value()) << c.name;
        EXPECT_EQ(fixture.exports().size(), c.exports) << c.name;
    }
}

// The copied mark belongs to the latest copy: the first copy's timer clears
// it only when no other card was copied since.
TEST(MaterialActionsTests, CopiedMarkIsClearedOnlyByTheCopyThatSetIt)
{
    ActionsFixture fixture;
    const QUuid a = fixture.add("A", MaterialKind::text, QStringLiteral("txt")).id;
    const QUuid b = fixture.add("B", MaterialKind::text, QStringLiteral("txt")).id;
    fixture.start();
    const qint64 duration = MaterialActions::copiedMarkDuration.count();

    const struct {
        const char* name;
        QUuid second;
        std::optional<QUuid> afterFirstTimer;
    } cases[] = {
        {"another card", b, b},
        {"the same card", a, std::nullopt},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(fixture.attempt(fixture.actions->copy(a, false))) << c.name;
        QElapsedTimer sinceFirst;
        sinceFirst.start();
        // Half-way, so the second copy's timer is due well after the first's.
        ASSERT_TRUE(waitUntil([&] { return sinceFirst.elapsed() >= duration / 2; })) << c.name;
        ASSERT_FALSE(fixture.attempt(fixture.actions->copy(c.second, false))) << c.name;
        ASSERT_TRUE(waitUntil([&] { return sinceFirst.elapsed() >= duration + duration / 10; })) << c.name;
        EXPECT_EQ(fixture.line->copiedID(), c.afterFirstTimer) << c.name;
        EXPECT_TRUE(waitUntil([&] { return !fixture.line->copiedID().has_value(); })) << c.name;
    }
}

// Open launches exported copies only, and never a file of kind "file";
// reveal shows a copy of every kind; the stored payload is never handed out.
// What the desktop answers becomes an error naming the copy: no application,
// a launcher that never answered, or nothing shown.
TEST(MaterialActionsTests, OpenAndRevealHandOutFreshCopies)
{
    ActionsFixture fixture;
    const QUuid image = fixture.add(encodeImage(patternImage(8, 8), "png"), MaterialKind::image,
        QStringLiteral("png")).id;
    const QUuid file = fixture.add("payload", MaterialKind::file, QStringLiteral("exe")).id;
    fixture.start();

    enum class Failure { none, noApplication, openFailed, revealFailed };
    const struct {
        const char* name;
        QUuid id;
        bool open;
        OpenVerdict verdict;
        bool shows;
        int opened, revealed;
        Failure failure;
    } cases[] = {
        {"open an image", image, true, OpenVerdict::opened, true, 1, 0, Failure::none},
        {"open a file: only revealed", file, true, OpenVerdict::opened, true, 0, 1, Failure::none},
        {"reveal an image", image, false, OpenVerdict::opened, true, 0, 1, Failure::none},
        {"no application for the copy", image, true, OpenVerdict::noApplication, true, 1, 0, Failure::noApplication},
        {"the launcher never answered", image, true, OpenVerdict::failed, true, 1, 0, Failure::openFailed},
        {"nothing could show the copy", image, false, OpenVerdict::opened, false, 0, 1, Failure::revealFailed},
        {"nothing could show the file", file, true, OpenVerdict::opened, false, 0, 1, Failure::revealFailed},
    };
    QSet<QString> seen;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fixture.desktop.opened.clear();
        fixture.desktop.revealed.clear();
        fixture.desktop.verdict = c.verdict;
        fixture.desktop.shows = c.shows;
        const std::exception_ptr error
            = fixture.attempt(c.open ? fixture.actions->open(c.id) : fixture.actions->reveal(c.id));
        // The copy is there whatever failed, and the error names it.
        const QUrl handed = (fixture.desktop.opened + fixture.desktop.revealed).value(0);
        std::optional<std::pair<Failure, QUrl>> named;
        try {
            if (error)
                std::rethrow_exception(error);
        } catch (const NoApplicationError& refused) {
            named = std::pair{Failure::noApplication, refused.file()};
        } catch (const OpenFailedError& failed) {
            named = std::pair{Failure::openFailed, failed.file()};
        } catch (const RevealFailedError& failed) {
            named = std::pair{Failure::revealFailed, failed.file()};
        } catch (...) {
            ADD_FAILURE() << "another error";
        }
        if (c.failure == Failure::none)
            EXPECT_FALSE(named.has_value());
        else
            EXPECT_EQ(named, std::optional(std::pair{c.failure, handed}));
        EXPECT_EQ(fixture.desktop.opened.size(), c.opened);
        EXPECT_EQ(fixture.desktop.revealed.size(), c.revealed);
        for (const QUrl& url : fixture.desktop.opened + fixture.desktop.revealed) {
            const QString path = url.toLocalFile();
            EXPECT_TRUE(path.startsWith(fixture.builder.path(DataRoot::exportsFolder()) + u'/'));
            EXPECT_FALSE(seen.contains(QFileInfo(path).path())) << "a folder used twice";
            seen.insert(QFileInfo(path).path());
        }
    }
}

// Markup reaches the store for every kind, which refuses a text; a second
// request while a session is open is cancelled at once, and its session
// stays pending for the recovery window.
TEST(MaterialActionsTests, MarkupOpensOneSessionAtATime)
{
    ActionsFixture fixture;
    const QUuid image = fixture.add(encodeImage(patternImage(24, 16), "png"), MaterialKind::image,
        QStringLiteral("png")).id;
    const QUuid text = fixture.add("words", MaterialKind::text, QStringLiteral("txt")).id;
    fixture.start();

    EXPECT_TRUE(isStoreError(fixture.attempt(fixture.actions->markup(text)), StoreError::invalidEdit()));
    ASSERT_FALSE(fixture.attempt(fixture.actions->markup(image)));
    ASSERT_FALSE(fixture.attempt(fixture.actions->markup(image)));
    EXPECT_EQ(fixture.launched.size(), 1);
    EXPECT_TRUE(fixture.markup.isEditing());
    // The refused second session never reached an editor: it is not kept.
    EXPECT_TRUE(waitUntil([&] { return waitForResult(fixture.store->pendingEditSessions()).size() == 1; }));
}

} // namespace
} // namespace tolvex
