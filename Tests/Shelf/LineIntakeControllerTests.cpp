#include "Intake/IntakeTesting.h"
#include "Shelf/ShelfTesting.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shelf/LineIntakeController.h"

namespace tolvex::testing {
namespace {

SourceRecord dropped()
{
    SourceRecord source;
    source.origin = ImportOrigin::drop;
    return source;
}

QList<ImportRequest> texts(int count, const QString& text = QStringLiteral("dropped"))
{
    return QList<ImportRequest>(count, ImportRequest::text(text, dropped()));
}

QString text(MessageKey key)
{
    return appLocalizer().string(key);
}

// The line and the controller beside a running service; as the shell does,
// an import reported while an intake is awaited marks it saved.
struct ControllerRig : Rig {
    explicit ControllerRig(const std::function<void(DataRootBuilder&)>& seed = {}) : Rig(automatic(false), seed)
    {
        service->onImported = [this](const QUuid&, const WorkspaceSnapshot&) -> QCoro::Task<void> {
            if (controller.awaitingCompletion())
                controller.savedInput = true;
            co_return;
        };
        start();
    }
    // Lets the intake run to its end, as the shell's status refresh does.
    void settle()
    {
        ASSERT_TRUE(waitUntil([&] { return !service->isBusy(); }));
        controller.refresh();
    }

    ControlledLineStore lineStore;
    MemoryUserDefaults defaults;
    Line line{lineStore, defaults, CountingThumbnails().maker()};
    LineIntakeController controller{line, service};
};

TEST(LineIntakeControllerTest, ADropShowsWhatBecameOfIt)
{
    const QString missing = QStringLiteral("/nonexistent/tolvex/file.txt");
    struct Case {
        const char* name;
        QList<ImportRequest> requests;
        std::int64_t capacity;
        MessageKey shown;
        bool stillAwaited;
    };
    const Case cases[] = {
        {"a new text", texts(1), unlimitedCapacity, MessageKey::inputSaved, false},
        {"32 texts at once", texts(32), unlimitedCapacity, MessageKey::inputSaved, false},
        {"what already hangs", texts(1, QStringLiteral("hanging already")), unlimitedCapacity,
            MessageKey::inputNothingNew, false},
        {"a file the store refuses", {ImportRequest::file(QUrl::fromLocalFile(missing), ImportOrigin::drop)},
            unlimitedCapacity, MessageKey::clipboardRejected, false},
        {"a full shelf", texts(1), 0, MessageKey::clipboardPending, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ControllerRig rig([](DataRootBuilder& builder) { builder.addMaterial("hanging already"); });
        rig.capacity = c.capacity;
        ASSERT_TRUE(rig.line.onReceiveInput(c.requests));
        EXPECT_EQ(rig.line.inputFeedback(), text(MessageKey::inputReceiving));
        rig.settle();
        EXPECT_EQ(rig.line.inputFeedback(), text(c.shown));
        EXPECT_EQ(rig.controller.awaitingCompletion(), c.stillAwaited);
        EXPECT_EQ(rig.line.canReceiveInput(), !c.stillAwaited);
    }
}

TEST(LineIntakeControllerTest, RefusedInputSaysWhy)
{
    ControllerRig rig;
    rig.line.inputFeedback = QStringLiteral("unchanged");
    EXPECT_FALSE(rig.line.onReceiveInput(texts(33)));
    EXPECT_FALSE(rig.line.onReceiveInput({}));
    EXPECT_EQ(rig.line.inputFeedback(), QStringLiteral("unchanged"));

    // A paste still awaited refuses a drop.
    rig.copy("pasted");
    rig.line.onPasteInput();
    EXPECT_FALSE(rig.line.onReceiveInput(texts(1)));
    // Busy, or the state of what the paste left pending so far.
    const QString refusal = rig.line.inputFeedback();
    EXPECT_TRUE(refusal == text(MessageKey::feedbackBusy) || refusal == text(messageKey(rig.service->state())))
        << refusal.toStdString();
    rig.settle();
    EXPECT_EQ(rig.line.inputFeedback(), text(MessageKey::inputSaved));

    // Under the privacy cover nothing is read.
    WorkspaceSnapshot covered = rig.line.snapshot();
    covered.privacyHidden = true;
    rig.line.snapshot = covered;
    rig.readable = false;
    rig.copy("not while covered");
    rig.line.onPasteInput();
    EXPECT_EQ(rig.line.inputFeedback(), text(MessageKey::contentHidden));
    EXPECT_FALSE(rig.controller.awaitingCompletion());
    EXPECT_EQ(rig.hangingCount(), 1);
}

} // namespace
} // namespace tolvex::testing
