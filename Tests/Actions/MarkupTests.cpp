#include "ActionsTesting.h"

#include "Support/ImageFixtures.h"
#include "TolvexCore/Images/ImageAdmissionError.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Presentation/Alert.h"

#include <QFile>
#include <QPromise>

namespace tolvex {
namespace {

using namespace testing;
using namespace test;

// One session over a real working image; saves, alerts and the editor are
// scripted.
struct MarkupHarness {
    MarkupHarness()
        : store(QUrl::fromLocalFile(folder.path()), SystemFileOperations::shared(), StorageBudget{1 << 30, 1 << 30, 0})
    {
        session.id = QUuid::createUuid();
        session.materialID = QUuid::createUuid();
        session.workingURL = QUrl::fromLocalFile(folder.filePath(QStringLiteral("working.png")));
        session.kind = VersionKind::markup;
        patternImage(12, 8).save(session.workingURL.toLocalFile());
    }
    // Opens the session and waits until the working file was checked and
    // the editor (or the fallback, or nothing while covered) came up.
    void begin()
    {
        const qsizetype before = service->performed.size();
        markup.edit(session, store, [this](EditResult result) { results.push_back(result); });
        EXPECT_TRUE(waitUntil([&] { return service->performed.size() > before || !markup.editorActive(); }));
    }
    // Delivers the editor's callbacks, which arrive on a later turn.
    void settle() { QCoreApplication::sendPostedEvents(); }
    bool savedWorkingFile() const
    {
        return results.size() == 1 && results.front().asSave() && results.front().asSave()->editedFile == session.workingURL;
    }
    bool cancelled() const { return results.size() == 1 && !results.front().asSave(); }

    QTemporaryDir folder;
    MaterialStore store;
    EditSession session;
    std::vector<EditResult> results;
    std::shared_ptr<ScriptedService> service = std::make_shared<ScriptedService>();
    QList<QByteArray> persisted;
    // Failing saves to come.
    int failures = 0;
    // When set, a save waits for it.
    std::shared_ptr<QPromise<void>> gate;
    QStringList alerts; // each alert's text
    int answer = 0;     // what each alert answers, unless alertAction is set
    std::function<int()> alertAction;
    RecordingDesktop desktop;
    Markup markup{{}, {},
        [this](EditSession, MaterialStore&, QByteArray data) -> QCoro::Task<void> {
            if (gate) {
                QFuture<void> waiting = gate->future();
                co_await waiting;
            }
            if (failures > 0) {
                --failures;
                throw StoreError::operationInProgress();
            }
            persisted.append(data);
        },
        [this] { return std::static_pointer_cast<MarkupService>(service); }, &desktop,
        [this](Alert& alert) {
            alerts.append(alert.window()->text() + u'|' + alert.window()->informativeText());
            return alertAction ? alertAction() : answer;
        }};
};

QByteArray pngOf(const QImage& image)
{
    return encodeImage(image, "png");
}

// A second edit is cancelled at once; 3072 cancels only in the editor's own
// domain; a failure leaves a retry that opens the editor again.
TEST(MarkupTests, SessionsAndEditorCallbacks)
{
    MarkupHarness h;
    h.begin();
    ASSERT_EQ(h.service->performed.size(), 1);
    EXPECT_TRUE(h.markup.isEditing());
    EXPECT_FALSE(h.markup.canRetrySaving());

    std::vector<EditResult> second;
    h.markup.edit(h.session, h.store, [&](EditResult result) { second.push_back(result); });
    ASSERT_EQ(second.size(), 1u);
    EXPECT_FALSE(second.front().asSave());
    EXPECT_TRUE(h.markup.editorActive());

    h.service->didFail({QStringLiteral("elsewhere"), MarkupServiceError::userCancelled});
    h.settle();
    EXPECT_EQ(h.alerts.size(), 1);
    EXPECT_TRUE(h.markup.failed());
    EXPECT_TRUE(h.markup.canRetrySaving());

    // Nothing was returned, so a retry opens the editor again.
    QCoro::waitFor(h.markup.retrySaving());
    ASSERT_TRUE(waitUntil([&] { return h.service->performed.size() == 2; }));
    h.service->didFail({MarkupServiceError::editorDomain, MarkupServiceError::userCancelled});
    h.settle();
    EXPECT_TRUE(h.cancelled());
    EXPECT_FALSE(h.markup.isEditing());
}

// The working file is checked off the GUI thread: edit() returns with the
// session busy and the editor not yet asked; it is asked once the check
// has answered.
TEST(MarkupTests, TheEditorOpensOnceTheWorkingFileWasChecked)
{
    MarkupHarness h;
    h.markup.edit(h.session, h.store, [&](EditResult result) { h.results.push_back(result); });
    EXPECT_TRUE(h.service->performed.isEmpty());
    EXPECT_TRUE(h.markup.editorActive());
    EXPECT_FALSE(h.markup.canRetrySaving());
    ASSERT_TRUE(waitUntil([&] { return h.service->performed.size() == 1; }));
    EXPECT_EQ(h.service->performed.first(), h.session.workingURL);
}

// An answer is taken only from the editor of the current opening: once a
// session was abandoned (its editor dismissed), the old editor's late answer
// is ignored even when the next session's editor lives at the same address.
TEST(MarkupTests, AnEarlierEditorsAnswerIsIgnored)
{
    MarkupHarness h;
    h.begin();
    const MarkupService::DidShare earlier = h.service->didShare;
    h.markup.abandon();
    EXPECT_TRUE(h.cancelled());
    EXPECT_EQ(h.service->dismissed, 1) << "abandoning closes the editor";

    h.results.clear();
    h.begin();
    ASSERT_EQ(h.service->performed.size(), 2);
    earlier({QVariant::fromValue(patternImage(5, 5))});
    h.settle();
    QCoreApplication::processEvents();
    EXPECT_TRUE(h.persisted.isEmpty());
    EXPECT_TRUE(h.markup.editorActive());
    EXPECT_TRUE(h.results.empty());

    h.service->didShare({QVariant::fromValue(patternImage(6, 4))});
    ASSERT_TRUE(waitUntil([&] { return !h.results.empty(); }));
    EXPECT_TRUE(h.savedWorkingFile());
    ASSERT_EQ(h.persisted.size(), 1);
    EXPECT_EQ(QImage::fromData(h.persisted.first()).size(), QSize(6, 4));
}

// Every kind of returned item is turned into admitted PNG bytes or refused
// with the save-failure alert; only admission errors add their detail. The
// size limit is checked before a returned file is read.
TEST(MarkupTests, ReturnedItems)
{
    const QImage drawn = patternImage(12, 8);
    QTemporaryDir files;
    const auto sparse = [&](const char* name, qint64 size) {
        const QString path = files.filePath(QString::fromLatin1(name));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.resize(size);
        return QUrl::fromLocalFile(path);
    };
    const QString detail = ImageAdmissionError::invalidImage().errorDescription();
    auto onlyText = std::make_shared<QMimeData>();
    onlyText->setText(QStringLiteral("no picture"));
    auto picture = std::make_shared<QMimeData>();
    picture->setText(QStringLiteral("caption"));
    picture->setData(QStringLiteral("image/png"), pngOf(drawn));

    const struct {
        const char* name;
        QVariant item;
        bool saved;
        bool withDetail;
    } cases[] = {
        {"image", QVariant::fromValue(drawn), true, false},
        {"image file", QVariant::fromValue(QUrl::fromLocalFile(writeFixture(files, "r.png", pngOf(drawn)))), true,
            false},
        {"mime data with a picture", QVariant::fromValue(static_cast<QMimeData*>(picture.get())), true, false},
        {"empty image", QVariant::fromValue(QImage()), false, true},
        {"mime data without a picture", QVariant::fromValue(static_cast<QMimeData*>(onlyText.get())), false, false},
        {"file at the limit, not an image", QVariant::fromValue(sparse("limit.png", Markup::maximumResultBytes)),
            false, true},
        {"file one byte over the limit", QVariant::fromValue(sparse("over.png", Markup::maximumResultBytes + 1)),
            false, false},
    };
    for (const auto& c : cases) {
        MarkupHarness h;
        h.begin();
        QCoro::waitFor(h.markup.receive({c.item}));
        EXPECT_EQ(h.savedWorkingFile(), c.saved) << c.name;
        if (c.saved) {
            ASSERT_EQ(h.persisted.size(), 1) << c.name;
            EXPECT_EQ(QImage::fromData(h.persisted.first()).convertToFormat(drawn.format()), drawn) << c.name;
            continue;
        }
        ASSERT_EQ(h.alerts.size(), 1) << c.name;
        EXPECT_EQ(h.alerts.first().contains(detail), c.withDetail) << c.name << ": " << h.alerts.first().toStdString();
        EXPECT_TRUE(h.markup.isEditing()) << c.name;
        EXPECT_TRUE(h.markup.canRetrySaving()) << c.name;
        EXPECT_FALSE(h.markup.hasPendingResult()) << c.name;
    }
}

// A failed save keeps the bytes and a retry writes the same bytes; a newer
// result replaces an unsaved older one and the session ends only after the
// newest is written; an empty answer during a save cancels nothing.
TEST(MarkupTests, SavingRetriesAndTheSingleSlot)
{
    const QByteArray first = pngOf(patternImage(6, 6)), second = pngOf(patternImage(7, 5));
    {
        MarkupHarness h;
        h.failures = 1;
        h.answer = Alert::firstButtonResponse + 1; // retry later
        h.begin();
        QCoro::waitFor(h.markup.receive({QVariant::fromValue(QImage::fromData(first))}));
        EXPECT_EQ(h.alerts.size(), 1);
        EXPECT_TRUE(h.markup.hasPendingResult());
        EXPECT_TRUE(h.markup.canRetrySaving());
        EXPECT_TRUE(h.results.empty());
        MarkupHarness abandoned;
        abandoned.failures = 1;
        abandoned.begin();
        QCoro::waitFor(abandoned.markup.receive({QVariant::fromValue(QImage::fromData(first))}));
        abandoned.markup.abandon();
        EXPECT_TRUE(abandoned.cancelled());
        EXPECT_FALSE(abandoned.markup.hasPendingResult()) << "abandoning drops the unsaved result";

        QCoro::waitFor(h.markup.retrySaving());
        EXPECT_EQ(h.service->performed.size(), 1) << "a retry with bytes kept opens no editor";
        ASSERT_EQ(h.persisted.size(), 1);
        EXPECT_TRUE(h.savedWorkingFile());
        EXPECT_FALSE(h.markup.hasPendingResult());
    }
    {
        MarkupHarness h;
        h.gate = std::make_shared<QPromise<void>>();
        h.gate->start();
        h.begin();
        launchTask(h.markup.receive({QVariant::fromValue(QImage::fromData(first))}), {});
        ASSERT_TRUE(waitUntil([&] { return h.markup.hasPendingResult(); }));
        EXPECT_FALSE(h.markup.canRetrySaving()) << "saving";
        QCoro::waitFor(h.markup.receive({}));
        EXPECT_TRUE(h.results.empty()) << "an empty answer during a save";
        // Two newer results while the first save waits: the last one wins.
        QCoro::waitFor(h.markup.receive({QVariant::fromValue(QImage::fromData(second))}));
        h.gate->finish();
        ASSERT_TRUE(waitUntil([&] { return !h.results.empty(); }));
        EXPECT_TRUE(h.savedWorkingFile());
        ASSERT_EQ(h.persisted.size(), 2);
        EXPECT_EQ(QImage::fromData(h.persisted.last()).size(), QSize(7, 5));
    }
}

// While the shelf is covered nothing opens and no failure is shown, yet the
// retry stays on offer; a cover during the fallback alert leaves the session
// open and failed; abandoning drops the unsaved result and cancels.
TEST(MarkupTests, PrivacyFallbackAndAbandon)
{
    ActionsFixture fixture;
    fixture.start();
    {
        MarkupHarness h;
        h.markup.privacyLine = fixture.line.get();
        fixture.line->coverImmediately();
        h.begin();
        EXPECT_TRUE(h.service->performed.isEmpty());
        EXPECT_TRUE(h.markup.canRetrySaving());
        fixture.line->setPrivacyHidden(false);
        ASSERT_TRUE(waitUntil([&] { return !fixture.line->isCovered(); }));
        QCoro::waitFor(h.markup.retrySaving());
        EXPECT_TRUE(waitUntil([&] { return h.service->performed.size() == 1; }))
            << "the retry opens the editor once shown";
        h.markup.privacyLine = nullptr;
    }
    {
        MarkupHarness h;
        h.service->accepts = false;
        h.markup.privacyLine = fixture.line.get();
        // The fallback alert ends by a cover.
        Line* line = fixture.line.get();
        h.alertAction = [line] {
            line->coverImmediately();
            return Alert::firstButtonResponse;
        };
        h.begin();
        EXPECT_EQ(h.desktop.opened, QList<QUrl>{h.session.workingURL});
        EXPECT_TRUE(h.markup.isEditing());
        EXPECT_TRUE(h.markup.failed());
        EXPECT_TRUE(h.markup.canRetrySaving());
        EXPECT_TRUE(h.results.empty());
        h.markup.abandon();
        EXPECT_TRUE(h.cancelled());
        h.markup.privacyLine = nullptr;
    }
}

} // namespace
} // namespace tolvex
