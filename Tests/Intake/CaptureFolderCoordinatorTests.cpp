#include "Intake/CaptureTesting.h"

#include "Support/DataRootBuilder.h"
#include "Support/ImageFixtures.h"
#include "Support/LookAlikeNames.h"
#include "Support/MemoryUserDefaults.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Images/ImageSource.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/Internal/StoreContext.h"
#include "TolvexCore/Store/Internal/StoreExecutor.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Intake/CaptureFolderCoordinator.h"
#include "Velmarin/Intake/CaptureRect.h"
#include "Velmarin/Platform/Bookmark.h"
#include "Velmarin/Presentation/NameOnlyFileIconProvider.h"
#include "Velmarin/Presentation/PlatformErrorForm.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"

#include <QDir>
#include <QFileDialog>
#include <QMap>
#include <QSemaphore>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <limits>
#include <system_error>

#include <sys/xattr.h>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

QStringList loggedLines;

void recordLineLog(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    if (context.category && QByteArrayView(context.category) == "local.tolvex.Tolvex.line")
        loggedLines.append(message);
}

struct Imported {
    QUuid id;
    std::optional<QRectF> rect;
    WorkspaceSnapshot snapshot;
};

class CaptureFolderCoordinatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temporary.isValid());
        DataRootBuilder(temporary.filePath(QStringLiteral("Tolvex"))).writeState(1);
        shots = temporary.filePath(QStringLiteral("shots"));
        ASSERT_TRUE(QDir().mkpath(shots));
        store = std::make_unique<MaterialStore>(QUrl::fromLocalFile(temporary.filePath(QStringLiteral("Tolvex"))),
            SystemFileOperations::shared(), StorageBudget{std::int64_t{1} << 40, std::int64_t{1} << 50, 0});
        coordinator = std::make_unique<CaptureFolderCoordinator>(*store);
        coordinator->capacity = [this] { return capacity; };
        coordinator->onImported = [this](QUuid id, std::optional<QRectF> rect, WorkspaceSnapshot snapshot)
            -> QCoro::Task<void> {
            imported.append(Imported{id, rect, snapshot});
            co_return;
        };
        coordinator->onSnapshot = [this](WorkspaceSnapshot snapshot) -> QCoro::Task<void> {
            snapshots.append(snapshot);
            co_return;
        };
        coordinator->onStatusChanged = [this] { statuses.append(coordinator->status()); };
        coordinator->onError = [this](std::exception_ptr error) { errors.append(error); };
    }

    QString at(const QString& name) const { return shots + QLatin1Char('/') + name; }

    void choose(const QString& folder)
    {
        coordinator->runPanel = [folder](QFileDialog&) { return std::optional<QString>(folder); };
        coordinator->chooseFolder();
        ASSERT_TRUE(waitUntil([&] { return coordinator->isEnabled() || !errors.isEmpty(); }));
        ASSERT_TRUE(errors.isEmpty());
    }

    // Written under a hidden name, marked, then renamed into place, as a
    // screenshot tool does; answers whether the file system kept the mark.
    bool saveScreenshot(const QString& name, const QByteArray& bytes, const QByteArray& rectangle = {})
    {
        const QString hidden = at(QStringLiteral(".") + name);
        writeFile(hidden, bytes);
        bool marked = true;
        if (!rectangle.isEmpty()
            && ::setxattr(QFile::encodeName(hidden).constData(), captureRectAttribute, rectangle.constData(),
                   static_cast<size_t>(rectangle.size()), 0)
                != 0) {
            EXPECT_EQ(errno, ENOTSUP);
            marked = false;
        }
        EXPECT_TRUE(QFile::rename(hidden, at(name)));
        return marked;
    }

    QList<MaterialRecord> materials() { return waitForResult(store->load()).materials; }

    QTemporaryDir temporary;
    QString shots;
    std::unique_ptr<MaterialStore> store;
    std::unique_ptr<CaptureFolderCoordinator> coordinator;
    std::int64_t capacity = std::numeric_limits<std::int64_t>::max();
    QList<Imported> imported;
    QList<WorkspaceSnapshot> snapshots;
    QList<MessageKey> statuses;
    QList<std::exception_ptr> errors;
};

QByteArray screenshot(int seed)
{
    return test::encodeImage(test::patternImage(48 + seed, 32), "png");
}

} // namespace

TEST_F(CaptureFolderCoordinatorTest, NewScreenshotHangsOnceInTheSelectedGroup)
{
    writeFile(at(QStringLiteral("already-there.png")), screenshot(9));
    choose(shots);
    ASSERT_EQ(snapshots.size(), 1);
    ASSERT_TRUE(snapshots[0].captureFolder.has_value());
    EXPECT_EQ(snapshots[0].captureFolder->lastKnownPath, shots);
    EXPECT_EQ(waitForResult(store->load()).captureFolder, coordinator->setting()) << "the choice is saved";
    EXPECT_EQ(coordinator->status(), MessageKey::captureActive);

    // The card's picture comes from the probe's decode, handed on before the card.
    QList<CapturePicture> pictures;
    coordinator->onPicture = [&](const CapturePicture& picture) {
        EXPECT_TRUE(imported.isEmpty());
        pictures.append(picture);
    };
    const QByteArray rectangle = "<?xml version=\"1.0\"?><plist version=\"1.0\"><array>"
                                 "<real>10</real><real>20</real><real>100</real><real>50</real></array></plist>";
    const bool marked = saveScreenshot(QStringLiteral("Screenshot 1.png"), screenshot(1), rectangle);
    ASSERT_TRUE(waitUntil([&] { return !imported.isEmpty(); }));
    spinFor(500);
    ASSERT_EQ(imported.size(), 1);
    const QList<MaterialRecord> stored = materials();
    ASSERT_EQ(stored.size(), 1) << "the file present before watching began is never imported";
    EXPECT_EQ(stored[0].id, imported[0].id);
    EXPECT_EQ(stored[0].status, MaterialStatus::hanging);
    EXPECT_EQ(stored[0].source.origin, ImportOrigin::screenshot);
    EXPECT_EQ(stored[0].matterID, imported[0].snapshot.selectedMatterID);
    EXPECT_EQ(imported[0].snapshot.materials.size(), 1);
    if (marked) {
        EXPECT_EQ(imported[0].rect, QRectF(10, 20, 100, 50));
    }
    EXPECT_EQ(coordinator->status(), MessageKey::captureActive);
    ASSERT_EQ(pictures.size(), 1);
    EXPECT_EQ(pictures[0].sha256, stored[0].versions[0].sha256);
    EXPECT_EQ(pictures[0].image, ImageSource::create(screenshot(1))->decodeImage(0));
    EXPECT_EQ(pictures[0].typeIdentifier, QStringLiteral("public.png"));
    coordinator->onPicture = nullptr;

    // No room: pending with its status, until a retry finds room.
    capacity = 0;
    saveScreenshot(QStringLiteral("Screenshot 3.png"), screenshot(3));
    ASSERT_TRUE(waitUntil([&] { return coordinator->status() == MessageKey::captureFull; }));
    EXPECT_EQ(coordinator->pending(), QSet<QUrl>{QUrl::fromLocalFile(at(QStringLiteral("Screenshot 3.png")))});
    capacity = std::numeric_limits<std::int64_t>::max();
    coordinator->retryPending();
    ASSERT_TRUE(waitUntil([&] { return imported.size() == 2; }));
    EXPECT_TRUE(coordinator->pending().isEmpty());
    EXPECT_EQ(coordinator->status(), MessageKey::captureActive);

    // The folder going away ends watching.
    ASSERT_TRUE(QDir(shots).removeRecursively());
    ASSERT_TRUE(waitUntil([&] { return coordinator->status() == MessageKey::captureUnavailable; }));
    EXPECT_FALSE(coordinator->isEnabled());
    EXPECT_TRUE(errors.isEmpty());
}

// A capture named with bytes that are not UTF-8, beside one whose name
// reads the same, becomes a card of its own bytes, titled as it reads.
TEST_F(CaptureFolderCoordinatorTest, AScreenshotWhoseNameIsNotUtf8IsTakenFromItsOwnFile)
{
    choose(shots);
    QList<CapturePicture> pictures;
    coordinator->onPicture = [&](const CapturePicture& picture) { pictures.append(picture); };
    const QString staging = temporary.filePath(QStringLiteral("staging"));
    ASSERT_TRUE(QDir().mkpath(staging));
    const test::LookAlikeNames names = test::LookAlikeNames::make(staging);
    // Moved in whole, the look-alike first, as a screenshot tool renames them.
    for (const QByteArray& name : {QByteArray("\uFFFD\uFFFD.png"), QByteArray("\xFF\xFE.png")}) {
        ASSERT_EQ(::rename((QFile::encodeName(staging) + '/' + name).constData(),
                      (QFile::encodeName(shots) + '/' + name).constData()),
            0);
    }
    ASSERT_TRUE(waitUntil([&] { return imported.size() == 2; }));
    ASSERT_TRUE(errors.isEmpty());
    QMap<QByteArray, QString> titles;
    for (const MaterialRecord& material : materials()) {
        QFile payload(waitForResult(store->payloadURL(material.id)).toLocalFile());
        ASSERT_TRUE(payload.open(QIODevice::ReadOnly));
        titles.insert(payload.readAll(), material.title);
    }
    EXPECT_EQ(titles.value(names.rawBytes), QStringLiteral("\uFFFD\uFFFD.png"));
    EXPECT_EQ(titles.value(names.lookAlikeBytes), QStringLiteral("\uFFFD\uFFFD.png"));
    EXPECT_EQ(coordinator->status(), MessageKey::captureActive);
}

TEST_F(CaptureFolderCoordinatorTest, AScreenshotArrivingWhileTheStoreIsHeldIsTakenWhenItIsFree)
{
    choose(shots);
    QSemaphore inside;
    QSemaphore open;
    struct Hold {};
    QFuture<int> holding = store->executor().runSuspending<int, Hold, int>(
        [](StoreContext&) -> StoreExecutor::Decision<int, Hold> { return Hold{}; },
        [&](const Hold&) {
            inside.release();
            open.acquire();
            return 0;
        },
        [](StoreContext&, Hold&, int&) { return 0; });
    inside.acquire();

    statuses.clear();
    saveScreenshot(QStringLiteral("shot.png"), screenshot(2));
    spinFor(1500);
    EXPECT_TRUE(imported.isEmpty());
    EXPECT_TRUE(statuses.isEmpty()) << "a store busy for a moment is no failure to report";
    EXPECT_TRUE(coordinator->pending().isEmpty());

    open.release();
    waitForResult(holding);
    ASSERT_TRUE(waitUntil([&] { return imported.size() == 1; })) << "taken without a manual retry";
    EXPECT_EQ(coordinator->status(), MessageKey::captureActive);
}

// A finished screenshot over the pixel budget is refused in the words the
// clipboard and a drop use, with nothing left to retry; one that did not
// finish saving is still called unfinished and waits for a retry.
TEST_F(CaptureFolderCoordinatorTest, AWholeScreenshotOverThePixelBudgetIsRefusedAsTooLarge)
{
    choose(shots);
    saveScreenshot(QStringLiteral("huge.png"), test::craftedPng(8193, 4096));
    ASSERT_TRUE(waitUntil([&] { return coordinator->status() != MessageKey::captureActive; }));
    EXPECT_EQ(coordinator->status(), MessageKey::imagePixelLimit);
    EXPECT_TRUE(coordinator->pending().isEmpty()) << "no retry could take it";

    const QByteArray whole = screenshot(4);
    saveScreenshot(QStringLiteral("cut.png"), whole.left(whole.size() - 20));
    ASSERT_TRUE(waitUntil([&] { return coordinator->status() == MessageKey::captureIncomplete; }));
    EXPECT_EQ(coordinator->pending(), QSet<QUrl>{QUrl::fromLocalFile(at(QStringLiteral("cut.png")))});
    writeFile(at(QStringLiteral("cut.png")), whole);
    coordinator->retryPending();
    ASSERT_TRUE(waitUntil([&] { return imported.size() == 1; }));
    EXPECT_EQ(materials().size(), 1);
    EXPECT_TRUE(coordinator->pending().isEmpty());
    EXPECT_EQ(coordinator->status(), MessageKey::captureActive);
    EXPECT_TRUE(errors.isEmpty());
}

// The data root moved away while the program runs: a new screenshot cannot
// be saved, the status names the cause, the user is told, and no retry is
// offered, since only a new start could save it.
TEST_F(CaptureFolderCoordinatorTest, AScreenshotLostToAReplacedDataRootNamesTheCause)
{
    choose(shots);
    QList<std::exception_ptr> told;
    coordinator->onRootReplaced = [&](std::exception_ptr error) { told.append(error); };
    const QString root = temporary.filePath(QStringLiteral("Tolvex"));
    ASSERT_TRUE(QDir().rename(root, root + QStringLiteral(" moved")));
    saveScreenshot(QStringLiteral("shot.png"), screenshot(5));
    ASSERT_TRUE(waitUntil([&] { return coordinator->status() != MessageKey::captureActive; }));
    EXPECT_EQ(coordinator->status(), MessageKey::feedbackRootReplaced);
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(StoreError::codeOf(told[0]), StoreError::Code::rootReplaced);
    EXPECT_TRUE(coordinator->pending().isEmpty());
    EXPECT_TRUE(imported.isEmpty());
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(CaptureFolderCoordinatorTest, RestoringAFolderThatCannotBeWatchedReportsItOnce)
{
    const QString replaced = temporary.filePath(QStringLiteral("replaced"));
    ASSERT_TRUE(QDir().mkpath(replaced));
    const QByteArray staleBookmark = Bookmark::create(replaced);
    // Moved away (so that its inode cannot be reused) and another folder made in its place.
    ASSERT_TRUE(QDir().rename(replaced, temporary.filePath(QStringLiteral("moved"))));
    ASSERT_TRUE(QDir().mkpath(replaced));
    const QString gone = temporary.filePath(QStringLiteral("gone"));
    ASSERT_TRUE(QDir().mkpath(gone));
    const QByteArray missingBookmark = Bookmark::create(gone);
    ASSERT_TRUE(QDir(gone).removeRecursively());

    struct Case {
        const char* name;
        QByteArray bookmark;
        // A store error's case, else the errno of a file error.
        std::optional<StoreError::Code> storeError;
        int fileError = 0;
        // As the log line names it: a store error's case index, a file error's file-manager code.
        long logged = 0;
    };
    const std::vector<Case> cases{
        {"the path now names another folder", staleBookmark, StoreError::Code::invalidSource, 0, 1},
        {"the folder is gone", missingBookmark, std::nullopt, ENOENT, PlatformErrorForm::readNoSuchFile},
    };
    const QtMessageHandler previous = qInstallMessageHandler(recordLineLog);
    for (const Case& c : cases) {
        loggedLines.clear();
        errors.clear();
        statuses.clear();
        WorkspaceSnapshot snapshot;
        snapshot.captureFolder = CaptureFolderSetting{c.bookmark, replaced, true};
        coordinator->restore(snapshot);

        EXPECT_EQ(coordinator->status(), MessageKey::captureUnavailable) << c.name;
        EXPECT_EQ(statuses.last(), MessageKey::captureUnavailable) << c.name;
        EXPECT_FALSE(coordinator->isEnabled()) << c.name;
        EXPECT_EQ(coordinator->setting(), snapshot.captureFolder) << c.name;
        EXPECT_EQ(loggedLines, QStringList{QStringLiteral("Capture restore failed with code %1").arg(c.logged)}) << c.name;
        ASSERT_EQ(errors.size(), 1) << c.name;
        try {
            std::rethrow_exception(errors[0]);
        } catch (const StoreError& error) {
            EXPECT_EQ(c.storeError, error.code()) << c.name;
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code().value(), c.fileError) << c.name;
        }
    }
    qInstallMessageHandler(previous);

    // A disabled setting is adopted without watching; switching it on watches and saves it.
    WorkspaceSnapshot disabled;
    disabled.captureFolder = CaptureFolderSetting{Bookmark::create(shots), shots, false};
    coordinator->restore(disabled);
    EXPECT_FALSE(coordinator->isEnabled());
    coordinator->toggleEnabled();
    ASSERT_TRUE(waitUntil([&] { return coordinator->isEnabled(); }));
    EXPECT_TRUE(waitForResult(store->load()).captureFolder->enabled);
}

TEST_F(CaptureFolderCoordinatorTest, TheFolderPanelAnswerCountsOnlyWhileThePrivacyCoverStayedDown)
{
    MaterialLineStore lineStore(*store);
    MemoryUserDefaults defaults;
    const auto settle = [](Line& line) { ASSERT_TRUE(waitUntil([&] { return line.privacyTask().isFinished(); })); };
    struct Case {
        const char* name;
        bool coveredBefore;
        std::function<void(Line&)> duringPanel;
        bool panelRuns;
        bool adopted;
    };
    const std::vector<Case> cases{
        {"covered before: no panel", true, {}, false, false},
        {"covered while the panel ran", false, [](Line& line) { line.setPrivacyHidden(true); }, true, false},
        {"covered and shown again while the panel ran", false,
            [&](Line& line) {
                line.setPrivacyHidden(true);
                settle(line);
                line.setPrivacyHidden(false);
                settle(line);
                ASSERT_FALSE(line.isCovered());
            },
            true, false},
        {"nothing moved", false, {}, true, true},
    };
    for (const Case& c : cases) {
        Line line(lineStore, defaults);
        if (c.coveredBefore)
            line.setPrivacyHidden(true);
        coordinator->privacyLine = &line;
        bool ran = false;
        bool registered = false;
        coordinator->runPanel = [&](QFileDialog& panel) {
            ran = true;
            registered = line.ownedModals().contains(&panel) && coordinator->folderPanel() == &panel;
            EXPECT_TRUE(panel.testOption(QFileDialog::DontUseNativeDialog)) << c.name;
            EXPECT_NE(dynamic_cast<NameOnlyFileIconProvider*>(panel.iconProvider()), nullptr) << c.name;
            if (c.duringPanel)
                c.duringPanel(line);
            return std::optional<QString>(shots);
        };
        coordinator->chooseFolder();
        spinFor(300);
        settle(line);
        EXPECT_EQ(ran, c.panelRuns) << c.name;
        EXPECT_EQ(registered, c.panelRuns) << c.name;
        EXPECT_TRUE(line.ownedModals().isEmpty()) << c.name;
        EXPECT_EQ(coordinator->folderPanel(), nullptr) << c.name;
        EXPECT_EQ(coordinator->isEnabled(), c.adopted) << c.name;
        EXPECT_EQ(waitForResult(store->load()).captureFolder.has_value(), c.adopted) << c.name;
        coordinator->privacyLine = nullptr;
    }
    EXPECT_TRUE(errors.isEmpty());
}
