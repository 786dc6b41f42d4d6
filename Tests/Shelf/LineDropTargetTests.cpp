#include "ShelfTesting.h"
#include "Support/ImageFixtures.h"
#include "TolvexCore/Images/ImageAdmissionError.h"

#include "Velmarin/Platform/MimeDataPasteboard.h"
#include "Velmarin/Shelf/ClosureMenuItem.h"
#include "Velmarin/Shelf/GrabView.h"
#include "Velmarin/Shelf/LineDropTarget.h"
#include "Velmarin/Shelf/LineRopeGeometry.h"
#include "Velmarin/Shelf/RopeSettingsButton.h"

#include <QMenu>
#include <QMimeData>
#include <QTemporaryDir>

namespace tolvex {
namespace {

using namespace testing;

const QString fileType = QString::fromUtf16(PasteboardType::fileURL);
const QString pngType = QString::fromUtf16(PasteboardType::png);
const QString heicType = QString::fromUtf16(PasteboardType::heic);
const QString textType = QString::fromUtf16(PasteboardType::string);
const QString ownType = QString::fromUtf16(PasteboardType::ownCopy);

QList<PasteboardItem> items(const QList<QStringList>& types)
{
    QList<PasteboardItem> result;
    for (const QStringList& t : types)
        result.append(PasteboardItem(t, {}));
    return result;
}

TEST(LineDropTargetTest, CandidateCount)
{
    const struct {
        const char* name;
        QList<QStringList> types;
        int expected;
    } cases[] = {
        {"files win over images", {{fileType}, {fileType}, {pngType}}, 2},
        {"images win over text", {{heicType}, {textType}, {pngType, textType}}, 2},
        {"text alone", {{textType}, {textType}}, 2},
        {"our own copies are left out", {{fileType, ownType}, {textType}}, 1},
        {"only our own copies", {{fileType, ownType}, {pngType, ownType}}, 0},
        {"nothing usable", {{QStringLiteral("application/x-other")}}, 0},
        {"32 items are counted", QList<QStringList>(32, {fileType}), 32},
        {"33 items are refused", QList<QStringList>(33, {fileType}), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LineDropTarget::candidateCount(items(c.types)), c.expected) << c.name;
}

class DropTargetTest : public ::testing::Test {
protected:
    DropTargetTest() : line(store, defaults, CountingThumbnails().maker())
    {
        line.revealed = true;
        line.canReceiveInput = true;
        line.canOpenIntakeSettings = true;
        line.onReceiveInput = [this](const QList<ImportRequest>& requests) {
            received = requests;
            return true;
        };
        line.onError = [this](std::exception_ptr error) {
            ++errors;
            lastError = error;
        };
        target.resize(900, 64);
        target.show();
        DropReceiver::configure(target, line);
    }

    static std::unique_ptr<QMimeData> urls(const QList<QUrl>& list, bool own = false)
    {
        auto data = std::make_unique<QMimeData>();
        data->setUrls(list);
        if (own)
            data->setData(ownType, "1");
        return data;
    }
    bool receive(const QMimeData& data) { return target.receive(std::make_shared<MimeDataPasteboard>(&data)); }

    ControlledLineStore store;
    MemoryUserDefaults defaults;
    Line line;
    LineDropTarget target;
    QList<ImportRequest> received;
    int errors = 0;
    std::exception_ptr lastError;
};

TEST_F(DropTargetTest, HoverOffersCopyOnlyForOthersContent)
{
    QTemporaryDir folder;
    const auto files = urls({QUrl::fromLocalFile(folder.filePath("a.txt")), QUrl::fromLocalFile(folder.filePath("b"))});
    const struct {
        const char* name;
        Qt::DropActions offered;
        bool fromThisProgram;
        bool covered;
        Qt::DropAction action;
        int count;
    } cases[] = {
        {"another program's files", Qt::CopyAction | Qt::MoveAction, false, false, Qt::CopyAction, 2},
        {"a card of ours", Qt::CopyAction, true, false, Qt::IgnoreAction, 0},
        {"no copy offered", Qt::MoveAction, false, false, Qt::IgnoreAction, 0},
        {"covered", Qt::CopyAction, false, true, Qt::IgnoreAction, 0},
    };
    for (const auto& c : cases) {
        line.snapshot.modify([&](WorkspaceSnapshot& s) { s.privacyHidden = c.covered; });
        line.dropCount = 7;
        EXPECT_EQ(target.hover(files.get(), c.offered, c.fromThisProgram), c.action) << c.name;
        EXPECT_EQ(line.dropCount(), c.count) << c.name;
    }
    // While something hovers the feedback line is empty.
    line.inputFeedback = QStringLiteral("Saved");
    line.dropCount = 2;
    DropReceiver::configure(target, line);
    EXPECT_TRUE(target.feedback().isEmpty());
    line.dropCount = 0;
    DropReceiver::configure(target, line);
    EXPECT_EQ(target.feedback(), QStringLiteral("Saved"));
}

TEST_F(DropTargetTest, ReceivedContentIsMarkedAsDropped)
{
    QTemporaryDir folder;
    QFile file(folder.filePath("note.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("bytes");
    file.close();

    const auto files = urls({QUrl::fromLocalFile(file.fileName())});
    ASSERT_TRUE(receive(*files));
    ASSERT_EQ(received.size(), 1);
    ASSERT_TRUE(received[0].asFile());
    EXPECT_EQ(received[0].asFile()->url, QUrl::fromLocalFile(file.fileName()));
    EXPECT_EQ(received[0].asFile()->origin, ImportOrigin::drop);

    received.clear();
    QMimeData text;
    text.setText(QStringLiteral("dropped words"));
    ASSERT_TRUE(receive(text));
    ASSERT_EQ(received.size(), 1);
    ASSERT_TRUE(received[0].asText());
    EXPECT_EQ(received[0].asText()->text, QStringLiteral("dropped words"));
    const SourceRecord& source = received[0].asText()->source;
    EXPECT_EQ(source.origin, ImportOrigin::drop);
    EXPECT_FALSE(source.webURL.has_value());
    EXPECT_FALSE(source.isManuallyRegistered);

    // Refusals: our own copy, nothing usable, a hidden line, too many items.
    received.clear();
    const auto own = urls({QUrl::fromLocalFile(file.fileName())}, true);
    QMimeData empty;
    empty.setData(QStringLiteral("application/x-other"), "x");
    EXPECT_FALSE(receive(*own));
    EXPECT_FALSE(receive(empty));
    line.revealed = false;
    EXPECT_FALSE(receive(*files));
    line.revealed = true;
    EXPECT_TRUE(received.isEmpty());
    EXPECT_EQ(errors, 0);
    QList<QUrl> many;
    for (int i = 0; i < 33; ++i)
        many.append(QUrl::fromLocalFile(file.fileName()));
    EXPECT_FALSE(receive(*urls(many)));
    // A refusal is told only after the drop is answered: its alert must not
    // hold the drag source waiting.
    EXPECT_EQ(errors, 0);
    ASSERT_TRUE(waitUntil([&] { return errors == 1; }));
    EXPECT_EQ(StoreError::codeOf(lastError), StoreError::Code::invalidSource);
    EXPECT_EQ(line.dropCount(), 0);

    // A picture too large to take says so, as the clipboard's intake does.
    test::writeFixture(folder, QStringLiteral("huge.png"), test::craftedPng(100000, 100000));
    EXPECT_FALSE(receive(*urls({QUrl::fromLocalFile(folder.filePath("huge.png"))})));
    EXPECT_EQ(errors, 1);
    ASSERT_TRUE(waitUntil([&] { return errors == 2; }));
    try {
        std::rethrow_exception(lastError);
    } catch (const ImageAdmissionError& refused) {
        EXPECT_EQ(refused.code(), ImageAdmissionError::Code::pixelBudgetExceeded);
    } catch (...) {
        ADD_FAILURE() << "not the picture's own refusal";
    }
}

TEST_F(DropTargetTest, RopeMenuFallbackAndStretchPrecedence)
{
    int notes = 0, pastes = 0, settings = 0;
    line.newNoteAction = [&] { ++notes; };
    line.onPasteInput = [&] { ++pastes; };
    line.openSettingsAction = [&] { ++settings; };
    line.canReceiveInput = false;
    DropReceiver::configure(target, line);
    std::unique_ptr<QMenu> menu(target.ropeMenu());
    const QList<QAction*> rows = menu->actions();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_TRUE(rows[0]->isEnabled());
    EXPECT_FALSE(rows[1]->isEnabled()); // paste needs input to be receivable
    EXPECT_TRUE(rows[2]->isEnabled());
    EXPECT_EQ(rows[2]->shortcut(), QKeySequence(QStringLiteral("Ctrl+,")));
    for (QAction* row : rows)
        static_cast<ClosureMenuItem*>(row)->fire();
    EXPECT_EQ(notes, 1);
    EXPECT_EQ(pastes, 1);
    EXPECT_EQ(settings, 1);
    // Starting a note from the rope dismissed the entry hint for good.
    EXPECT_TRUE(line.entryHintDismissed());

    // A click on a card over the stretch goes to the card unless it is on the rope.
    RopeSettingsButton* button = target.settingsButton();
    GrabView card;
    const double rope = target.width() + 100.0;
    const double c = LineInputLayout::settingsRegion(rope).center().x() - 50; // target coordinates
    const QPointF onRope(c, LineRopeGeometry::y(c + 50, rope));
    const QPointF offRope(c, onRope.y() - 8); // inside the button, above the rope
    EXPECT_EQ(target.settingsHit(onRope, &target, &card), button);
    EXPECT_EQ(target.settingsHit(offRope, &target, &card), nullptr);
    EXPECT_EQ(target.settingsHit(offRope, &target, &target), button);
    EXPECT_EQ(target.settingsHit(QPointF(5, 5), &target, &target), nullptr);
    line.revealed = false;
    DropReceiver::configure(target, line);
    EXPECT_EQ(target.settingsHit(onRope, &target, &card), nullptr);
}

} // namespace
} // namespace tolvex
