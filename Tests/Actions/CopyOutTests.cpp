#include "ActionsTesting.h"

#include "Support/ImageFixtures.h"
#include "Velmarin/Actions/CopyOutMimeData.h"
#include "Velmarin/Actions/CopyOutProvider.h"
#include "Velmarin/Actions/OwnedCopyMarker.h"

#include <QFile>
#include <QFileInfo>

namespace tolvex {
namespace {

using namespace testing;
using namespace test;

Pegged cardOf(const ActionsFixture& fixture, const MaterialRecord& record)
{
    Pegged card;
    card.id = record.id;
    card.versionID = record.activeVersionID;
    card.url = fixture.builder.url(record.versions.first().relativePath);
    card.kind = record.kind;
    return card;
}

// A drag offers, in order, text, PNG, TIFF, the exported copy's URL and the
// marker, each only where the kind has it; once the shelf is covered it
// offers and answers nothing, also to a drop target that asks late.
TEST(CopyOutTests, DragDataPerKindAndItsGate)
{
    ActionsFixture fixture;
    const QImage picture = patternImage(10, 6);
    const MaterialRecord image = fixture.add(encodeImage(picture, "png"), MaterialKind::image, QStringLiteral("png"));
    const MaterialRecord text = fixture.add("dragged words", MaterialKind::text, QStringLiteral("txt"));
    const MaterialRecord pdf = fixture.add("%PDF-1.4", MaterialKind::pdf, QStringLiteral("pdf"));
    fixture.start();

    const QString png = QStringLiteral("image/png"), tiff = QStringLiteral("image/tiff"),
                  uris = QStringLiteral("text/uri-list"), plain = QStringLiteral("text/plain");
    const struct {
        const char* name;
        MaterialRecord record;
        QStringList formats;
    } cases[] = {
        {"image", image, {png, tiff, uris, ownedCopyMimeType}},
        {"text", text, {plain, ownedCopyMimeType}},
        {"pdf", pdf, {uris, ownedCopyMimeType}},
    };
    std::vector<std::shared_ptr<QMimeData>> prepared;
    for (const auto& c : cases) {
        std::shared_ptr<QMimeData> data;
        const auto preparing = [&]() -> QCoro::Task<void> {
            QCoro::Task<std::shared_ptr<QMimeData>> asked = fixture.actions->dragProvider(cardOf(fixture, c.record));
            data = co_await std::move(asked);
        };
        ASSERT_FALSE(ActionsFixture::attempt(preparing())) << c.name;
        EXPECT_EQ(data->formats(), c.formats) << c.name;
        EXPECT_EQ(data->data(ownedCopyMimeType), QByteArray("1")) << c.name;
        if (data->hasFormat(uris)) {
            const QString copy = data->urls().value(0).toLocalFile();
            EXPECT_TRUE(copy.startsWith(fixture.builder.path(DataRoot::exportsFolder()) + u'/')) << c.name;
            EXPECT_TRUE(QFileInfo::exists(copy)) << c.name;
        }
        prepared.push_back(data);
    }
    EXPECT_EQ(prepared[0]->data(QStringLiteral("image/png")).isEmpty(), false);
    EXPECT_EQ(QImage::fromData(prepared[0]->data(tiff)).convertToFormat(picture.format()), picture);
    EXPECT_EQ(prepared[1]->text(), QStringLiteral("dragged words"));

    fixture.line->coverImmediately();
    for (const auto& data : prepared) {
        EXPECT_TRUE(data->formats().isEmpty());
        EXPECT_TRUE(data->data(ownedCopyMimeType).isEmpty());
        EXPECT_TRUE(data->text().isEmpty());
    }
    // A drag that starts while covered fails at once.
    EXPECT_TRUE(isStoreError(ActionsFixture::attempt(fixture.actions->dragProvider(cardOf(fixture, image))),
        StoreError::invalidSource()));
    EXPECT_EQ(fixture.exports().size(), 3);
}

// The promise write: kept for desktops that promise files, never replaces
// an existing file, and writes nothing once exporting is closed.
TEST(CopyOutTests, PromiseWriteKeepsTheExportRules)
{
    ActionsFixture fixture;
    const MaterialRecord record = fixture.add("promised", MaterialKind::file, QStringLiteral("dat"));
    fixture.start();
    bool open = true;
    auto provider = std::make_shared<CopyOutProvider>(*fixture.store, record.id, record.activeVersionID,
        QStringLiteral("dat"), [&open] { return open; });

    const QString existing = fixture.folder.filePath(QStringLiteral("existing.dat"));
    QFile(existing).open(QIODevice::WriteOnly); // empty
    const struct {
        const char* name;
        QString destination;
        bool exporting;
        bool succeeds;
        QByteArray contents; // afterwards
    } cases[] = {
        {"written", fixture.folder.filePath(QStringLiteral("dropped.dat")), true, true, "promised"},
        {"an existing file stays", existing, true, false, ""},
        {"closed", fixture.folder.filePath(QStringLiteral("late.dat")), false, false, {}},
    };
    for (const auto& c : cases) {
        open = c.exporting;
        std::optional<std::exception_ptr> answer;
        provider->writePromiseTo(QUrl::fromLocalFile(c.destination), [&](std::exception_ptr error) {
            EXPECT_FALSE(answer.has_value()) << c.name << ": answered twice";
            answer = error;
        });
        ASSERT_TRUE(waitUntil([&] { return answer.has_value(); })) << c.name;
        EXPECT_EQ(*answer == nullptr, c.succeeds) << c.name;
        QFile written(c.destination);
        EXPECT_EQ(written.exists(), !c.contents.isNull()) << c.name;
        if (written.open(QIODevice::ReadOnly)) {
            EXPECT_EQ(written.readAll(), c.contents) << c.name;
        }
    }
    EXPECT_TRUE(provider->fileName(nullptr).startsWith(
        QStringLiteral("Tolvex-") + record.id.toString(QUuid::WithoutBraces).toUpper().left(8)));
}

} // namespace
} // namespace tolvex
