#include "Intake/IntakeTesting.h"
#include "Support/EventLoopWait.h"
#include "Support/ImageFixtures.h"
#include "Support/LookAlikeNames.h"
#include "Velmarin/Platform/MimeDataPasteboard.h"
#include "TolvexCore/Intake/ClipboardLimits.h"

#include <QDir>
#include <QFile>
#include <QMimeData>

namespace tolvex::testing {
namespace {

using State = ClipboardIntakeState;

TEST(ClipboardImportServiceTest, WhatIsOnTheClipboardAtStartIsTakenOnlyWhenAskedFor)
{
    for (const bool includeExisting : {false, true}) {
        SCOPED_TRACE(includeExisting);
        Rig rig(automatic(includeExisting));
        rig.copy("before");
        rig.start();
        EXPECT_EQ(rig.hangingCount(), includeExisting ? 1 : 0);
        EXPECT_EQ(rig.service->state(), State::active);
        rig.copy("after");
        rig.poll();
        EXPECT_EQ(rig.hangingCount(), includeExisting ? 2 : 1);
        EXPECT_EQ(rig.imported.size(), rig.hangingCount());

        // Privacy hides intake; its end shows it active again, changed clipboard or not.
        rig.readable = false;
        rig.poll();
        EXPECT_EQ(rig.service->state(), State::hidden);
        rig.readable = true;
        rig.poll();
        EXPECT_EQ(rig.service->state(), State::active);
    }
}

TEST(ClipboardImportServiceTest, AFullShelfKeepsTheInputUntilRetriedOrDiscarded)
{
    const MatterGroup other{QUuid::createUuid(), QStringLiteral("Other"), 1};
    Rig rig(automatic(false), [&](DataRootBuilder& builder) { builder.snapshot().matters.append(other); });
    rig.start();
    rig.capacity = 0;
    rig.copy("first");
    rig.poll();
    EXPECT_EQ(rig.service->state(), State::pending);
    // Later polls read nothing new while something waits.
    rig.copy("second");
    rig.poll();
    EXPECT_EQ(rig.service->pendingCount(), 1);
    EXPECT_EQ(rig.service->state(), State::pending);

    // The group was fixed when the input was taken.
    WorkspaceSnapshot elsewhere = rig.snapshot();
    elsewhere.selectedMatterID = other.id;
    waitForResult(rig.store->executor().run([elsewhere](StoreContext& context) { return context.persist(elsewhere); }));
    rig.capacity = unlimitedCapacity;
    QCoro::waitFor(rig.service->retryPending());
    const WorkspaceSnapshot after = rig.snapshot();
    ASSERT_EQ(after.materials.size(), 2);
    EXPECT_EQ(after.materials[0].matterID, MatterGroup::ungroupedID());
    EXPECT_EQ(after.materials[1].matterID, other.id);

    // Discarded content is not read again.
    rig.capacity = 0;
    rig.copy("third");
    rig.poll();
    ASSERT_EQ(rig.service->pendingCount(), 1);
    EXPECT_TRUE(rig.service->discardPending());
    EXPECT_EQ(rig.service->state(), State::active);
    rig.capacity = unlimitedCapacity;
    rig.poll();
    EXPECT_EQ(rig.service->pendingCount(), 0);
    EXPECT_EQ(rig.hangingCount(), 2);
}

TEST(ClipboardImportServiceTest, AFileChangedBeforeItsImportShowsChangedFile)
{
    Rig rig;
    const QString path = rig.folder.path() + QStringLiteral("/notes.txt");
    test::writeFixture(rig.folder, QStringLiteral("notes.txt"), "version one");
    rig.start();
    rig.capacity = 0;
    rig.pasteboard->set({fileItem(QUrl::fromLocalFile(path).toString())});
    rig.poll();
    ASSERT_EQ(rig.service->pendingCount(), 1);

    test::writeFixture(rig.folder, QStringLiteral("notes.txt"), "version two, longer");
    rig.capacity = unlimitedCapacity;
    QCoro::waitFor(rig.service->retryPending());
    EXPECT_EQ(rig.service->state(), State::changedFile);
    rig.poll();
    EXPECT_EQ(rig.service->state(), State::changedFile);
    EXPECT_EQ(rig.service->pendingCount(), 1);
    EXPECT_EQ(rig.hangingCount(), 0);
}

// A busy store is transient: what it held up is taken, and its failure
// state goes, without the user doing anything.
TEST(ClipboardImportServiceTest, ABusyStoreOnlyDelaysAPoll)
{
    for (const bool copyMeanwhile : {true, false}) {
        SCOPED_TRACE(copyMeanwhile);
        Rig rig;
        rig.start();
        StoreHold hold(*rig.store);
        if (copyMeanwhile)
            rig.copy("copied while the store was busy");
        rig.poll();
        EXPECT_EQ(rig.service->state(), State::unavailable);
        hold.release();
        rig.poll();
        EXPECT_EQ(rig.service->state(), State::active);
        EXPECT_EQ(rig.hangingCount(), copyMeanwhile ? 1 : 0);
    }
}

// The timer polls twice a second: one that finds the clipboard as it was
// neither raises the busy flag nor reports anything, and the next copy is
// still taken.
TEST(ClipboardImportServiceTest, APollOfAnUnchangedClipboardReportsNothing)
{
    Rig rig;
    rig.start();
    rig.copy("taken");
    rig.poll();
    ASSERT_EQ(rig.hangingCount(), 1);
    int reports = 0;
    rig.service->onStateChanged = [&] { ++reports; };
    for (int poll = 0; poll < 3; ++poll)
        rig.poll();
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(rig.service->state(), State::active);
    rig.copy("next");
    rig.poll();
    EXPECT_EQ(rig.hangingCount(), 2);
    EXPECT_GT(reports, 0);
}

TEST(ClipboardImportServiceTest, OnlyInputHeldUpByABusyStoreIsRetriedByPolling)
{
    for (const bool busyStore : {true, false}) {
        SCOPED_TRACE(busyStore);
        Rig rig;
        rig.start();
        rig.capacity = 0;
        rig.copy("waiting");
        rig.poll();
        ASSERT_EQ(rig.service->pendingCount(), 1);
        if (busyStore) {
            StoreHold hold(*rig.store);
            QCoro::waitFor(rig.service->retryPending());
            EXPECT_EQ(rig.service->state(), State::pending);
        }
        rig.capacity = unlimitedCapacity;
        rig.poll();
        EXPECT_EQ(rig.service->pendingCount(), busyStore ? 0 : 1);
        EXPECT_EQ(rig.hangingCount(), busyStore ? 1 : 0);
    }
}

TEST(ClipboardImportServiceTest, ManualInputRehangsATakenDownDuplicateAndPollingDoesNot)
{
    Rig rig(automatic(false), [](DataRootBuilder& builder) {
        builder.addMaterial("same words", MaterialStatus::takenDown);
    });
    rig.start();
    rig.copy("same words");
    rig.poll();
    EXPECT_EQ(rig.hangingCount(), 0);
    EXPECT_EQ(rig.snapshots, 1);
    EXPECT_TRUE(rig.imported.isEmpty());

    SourceRecord dropped;
    dropped.origin = ImportOrigin::drop;
    EXPECT_TRUE(rig.service->enqueueManual({ImportRequest::text(QStringLiteral("same words"), dropped)}));
    // The service is reserved at once: a second drop, a discard and a
    // settings-free manual start are all refused until the first ends.
    EXPECT_FALSE(rig.service->enqueueManual({ImportRequest::text(QStringLiteral("other"), dropped)}));
    EXPECT_FALSE(rig.service->discardPending());
    EXPECT_FALSE(rig.service->canReceiveManual());
    ASSERT_TRUE(waitUntil([&] { return !rig.service->isBusy(); }));
    EXPECT_EQ(rig.hangingCount(), 1);
    EXPECT_EQ(rig.imported.size(), 1);
}

// Quitting is held up by input that would be lost, never by what the store
// has already saved while the shelf is being shown it.
TEST(ClipboardImportServiceTest, OnlyInputNotYetSavedHoldsUpQuitting)
{
    SourceRecord dropped;
    dropped.origin = ImportOrigin::drop;
    const auto text = [&](const char* words) { return ImportRequest::text(QString::fromUtf8(words), dropped); };
    struct Case {
        const char* name;
        std::function<void(Rig&)> take;
        // At each snapshot handed on and each new card announced, in turn.
        QList<bool> unsaved;
    };
    const Case cases[] = {
        {"a copied text", [](Rig& rig) { rig.copy("copied"); rig.poll(); }, {false, false}},
        {"two dropped texts",
            [&](Rig& rig) {
                ASSERT_TRUE(rig.service->enqueueManual({text("one"), text("two")}));
                EXPECT_TRUE(rig.service->hasUnsavedInput());
                ASSERT_TRUE(waitUntil([&] { return !rig.service->isBusy(); }));
            },
            {true, true, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.start();
        QList<bool> unsaved;
        rig.service->onSnapshot = [&](const WorkspaceSnapshot&) -> QCoro::Task<void> {
            unsaved.append(rig.service->hasUnsavedInput());
            co_return;
        };
        rig.service->onImported = [&](const QUuid&, const WorkspaceSnapshot&) -> QCoro::Task<void> {
            unsaved.append(rig.service->hasUnsavedInput());
            co_return;
        };
        c.take(rig);
        EXPECT_EQ(unsaved, c.unsaved);
        EXPECT_FALSE(rig.service->hasUnsavedInput());
    }
}

TEST(ClipboardImportServiceTest, ManualBatchesAreCheckedWhole)
{
    const QString fileOfLimit = QStringLiteral("limit.bin");
    SourceRecord dropped;
    dropped.origin = ImportOrigin::drop;
    const auto texts = [&](int count) {
        return QList<ImportRequest>(count, ImportRequest::text(QStringLiteral("x"), dropped));
    };
    // A valid PNG of exactly the image limit.
    QByteArray image = test::craftedPng(1, 1);
    image.insert(image.size() - 12,
        test::pngChunk("prVt", QByteArray(ClipboardLimits::imageBytes - image.size() - 12, 'p')));
    const auto images = [&](int count) {
        return QList<ImportRequest>(count, ImportRequest::imageData(image, dropped));
    };

    struct Case {
        const char* name;
        std::function<QList<ImportRequest>(const QString& folder)> requests;
        qsizetype pending;
    };
    const Case cases[] = {
        {"32 texts", [&](const QString&) { return texts(32); }, 32},
        {"33 texts", [&](const QString&) { return texts(33); }, 0},
        {"four images of the limit", [&](const QString&) { return images(4); }, 4},
        {"five", [&](const QString&) { return images(5); }, 0},
        {"a file of the limit",
            [&](const QString& folder) {
                return QList{ImportRequest::file(QUrl::fromLocalFile(folder + u'/' + fileOfLimit), ImportOrigin::drop)};
            },
            1},
        {"the file and one character",
            [&](const QString& folder) {
                return QList{ImportRequest::file(QUrl::fromLocalFile(folder + u'/' + fileOfLimit), ImportOrigin::drop),
                    ImportRequest::text(QStringLiteral("x"), dropped)};
            },
            0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        QFile file(rig.folder.path() + u'/' + fileOfLimit);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(ClipboardLimits::fileBytes));
        file.close();
        rig.start();
        // Nothing is imported, so what passed stays pending.
        rig.capacity = 0;
        QCoro::waitFor(rig.service->receive(c.requests(rig.folder.path())));
        EXPECT_EQ(rig.service->pendingCount(), c.pending);
        EXPECT_EQ(rig.service->state(), c.pending ? State::pending : State::rejected);
    }
}

// A name that is not UTF-8, beside a file whose name reads the same: a copy
// of its URL and a drop of it both become a card of its own bytes.
TEST(ClipboardImportServiceTest, ANameThatIsNotUtf8BecomesACardOfItsOwnFile)
{
    for (const bool dropped : {false, true}) {
        SCOPED_TRACE(dropped ? "dropped" : "copied");
        Rig rig;
        const test::LookAlikeNames names = test::LookAlikeNames::make(rig.folder.path());
        rig.start();
        if (dropped) {
            QMimeData data;
            data.setData(QStringLiteral("text/uri-list"), names.uri + "\r\n");
            SystemClipboardGateway gateway(std::make_shared<MimeDataPasteboard>(&data));
            const ClipboardContents contents = waitForResult(gateway.readSnapshot());
            ASSERT_TRUE(rig.service->enqueueManual(contents.requests));
            ASSERT_TRUE(waitUntil([&] { return !rig.service->hasUnsavedInput(); }));
        } else {
            rig.pasteboard->set({fileItem(QString::fromLatin1(names.uri))});
            rig.poll();
        }
        ASSERT_EQ(rig.imported.size(), 1);
        QFile payload(waitForResult(rig.store->payloadURL(rig.imported[0])).toLocalFile());
        ASSERT_TRUE(payload.open(QIODevice::ReadOnly));
        EXPECT_EQ(payload.readAll(), names.rawBytes);
        EXPECT_EQ(rig.snapshot().findMaterial(rig.imported[0])->source.filePath, names.lookAlikePath);
    }
}

// A picture refused for its size says so, however it came; any other
// refusal keeps the state's own words, and the next good copy clears both.
TEST(ClipboardImportServiceTest, ARefusedPictureSaysWhy)
{
    struct Case {
        const char* name;
        // Puts the content where the service takes it from, and takes it.
        std::function<void(Rig&, const QString& file)> bring;
        State state;
        MessageKey message;
    };
    const auto copyFile = [](Rig& rig, const QString& file) {
        rig.pasteboard->set({fileItem(QUrl::fromLocalFile(file).toString())});
    };
    const Case cases[] = {
        {"copied as a file list",
            [&](Rig& rig, const QString& file) {
                copyFile(rig, file);
                rig.poll();
            },
            State::rejected, MessageKey::imagePixelLimit},
        {"copied as image data",
            [](Rig& rig, const QString&) {
                rig.pasteboard->set({{{QString::fromUtf16(PasteboardType::png), test::craftedPng(100000, 100000)}}});
                rig.poll();
            },
            State::rejected, MessageKey::imagePixelLimit},
        {"pasted as a file list",
            [&](Rig& rig, const QString& file) {
                QCoro::waitFor(rig.service->setEnabled(false));
                copyFile(rig, file);
                QCoro::waitFor(rig.service->pasteCurrent());
            },
            State::rejected, MessageKey::imagePixelLimit},
        // A chosen file passes no reader: the store refuses it at import.
        {"chosen", [](Rig& rig, const QString& file) {
             QCoro::waitFor(rig.service->receive({ImportRequest::file(QUrl::fromLocalFile(file), ImportOrigin::fileSelection)}));
         },
            State::changedFile, MessageKey::imagePixelLimit},
        {"a file that is not there",
            [&](Rig& rig, const QString& file) {
                copyFile(rig, file + QStringLiteral(".gone"));
                rig.poll();
            },
            State::rejected, MessageKey::clipboardRejected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        test::writeFixture(rig.folder, QStringLiteral("huge.png"), test::craftedPng(100000, 100000));
        rig.start();
        c.bring(rig, rig.folder.path() + QStringLiteral("/huge.png"));
        EXPECT_EQ(rig.service->state(), c.state);
        EXPECT_EQ(rig.service->stateMessage(), c.message);
        EXPECT_EQ(rig.hangingCount(), 0);

        rig.service->discardPending();
        QCoro::waitFor(rig.service->setEnabled(true));
        rig.copy("fits");
        rig.poll();
        EXPECT_EQ(rig.service->stateMessage(), MessageKey::clipboardActive);
    }
}

// The data root moved away while the program runs: whatever way content
// comes in, the state names that cause, whose remedy is to quit, and the
// user is told once, as the state comes to say it.
TEST(ClipboardImportServiceTest, AReplacedDataRootIsNamedWhateverWayContentComesIn)
{
    Rig rig;
    QList<std::exception_ptr> told;
    rig.service->onRootReplaced = [&](std::exception_ptr error) { told.append(error); };
    rig.start();
    const QString root = rig.folder.path() + QStringLiteral("/Tolvex");
    ASSERT_TRUE(QDir().rename(root, root + QStringLiteral(" moved")));

    const std::vector<std::pair<const char*, std::function<void()>>> ways{
        {"copied", [&] {
             rig.copy("copied");
             rig.poll();
         }},
        {"polled again", [&] { rig.poll(); }},
        {"dropped",
            [&] { QCoro::waitFor(rig.service->receive({ImportRequest::text(QStringLiteral("dropped"), {})})); }},
        {"pasted", [&] { QCoro::waitFor(rig.service->pasteCurrent()); }},
        {"settings saved", [&] { EXPECT_FALSE(QCoro::waitFor(rig.service->updatePreferences(automatic(false)))); }},
        {"polled while its settings are unavailable", [&] { rig.poll(); }},
    };
    for (const auto& [name, bring] : ways) {
        SCOPED_TRACE(name);
        bring();
        EXPECT_EQ(rig.service->stateMessage(), MessageKey::feedbackRootReplaced);
    }
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(StoreError::codeOf(told[0]), StoreError::Code::rootReplaced);
}

TEST(ClipboardImportServiceTest, SettingsSavesDoNotOverlapAndTheirFailureStopsIntake)
{
    Rig rig;
    const QString settings = rig.folder.path() + QStringLiteral("/Tolvex/clipboard-settings.json");
    QFile::remove(settings);
    test::writeFixture(rig.folder, QStringLiteral("Tolvex/clipboard-settings.json"), "{\"version\": 9}");
    rig.start();
    EXPECT_EQ(rig.service->state(), State::unavailable);
    EXPECT_FALSE(rig.service->isEnabled());
    rig.copy("not taken");
    rig.poll();
    EXPECT_EQ(rig.service->state(), State::unavailable);
    // The store never writes over a damaged settings file.
    EXPECT_FALSE(QCoro::waitFor(rig.service->updatePreferences(automatic(false))));
    EXPECT_EQ(rig.service->state(), State::unavailable);

    QFile::remove(settings);
    QCoro::Task<bool> first = rig.service->updatePreferences(automatic(false));
    EXPECT_FALSE(QCoro::waitFor(rig.service->updatePreferences(automatic(true))));
    EXPECT_TRUE(QCoro::waitFor(first));
    EXPECT_EQ(rig.service->state(), State::active);
    EXPECT_EQ(rig.service->preferences(), automatic(false));
    EXPECT_EQ(rig.hangingCount(), 0);
}

} // namespace
} // namespace tolvex::testing
