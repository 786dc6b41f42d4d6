#include "Windows/WindowsTesting.h"

#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/NameOnlyFileIconProvider.h"
#include "Velmarin/Windows/EditorTextView.h"
#include "Velmarin/Windows/MaterialDetailController.h"
#include "Velmarin/Windows/TextEditorController.h"

#include <QApplication>
#include <QFileDialog>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex {
namespace {

using testing::DataRootBuilder;
using testing::EditorScene;
using testing::outcome;
using testing::waitUntil;
using Choice = MaterialDetailController::UnsavedChoice;

QString twoPagePdf(const QTemporaryDir& folder)
{
    const QString path = folder.filePath(QStringLiteral("two.pdf"));
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A6));
    QPainter painter(&writer);
    painter.drawText(20, 20, QStringLiteral("one"));
    writer.newPage();
    painter.drawText(20, 20, QStringLiteral("two"));
    return path;
}

// A one-page PDF, when locked behind the standard security handler with a
// user password that is not empty: it cannot be opened without it.
QString onePagePdf(const QTemporaryDir& folder, bool locked)
{
    const QByteArray key32 = QByteArray(32, '\x5A').toHex().toUpper();
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>",
        "<< /Filter /Standard /V 1 /R 2 /P -4 /O <" + key32 + "> /U <" + key32 + "> >>",
    };
    QByteArray pdf("%PDF-1.4\n");
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1)
        + " /Root 1 0 R" + (locked ? " /Encrypt 4 0 R" : "") + " /ID [<00112233445566778899AABBCCDDEEFF> <00112233445566778899AABBCCDDEEFF>] >>\n";
    pdf += "startxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    const QString path = folder.filePath(locked ? QStringLiteral("locked.pdf") : QStringLiteral("open.pdf"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(pdf);
    return path;
}

TEST(SourceFormTests, ValidationFollowsTheStoresRulesAndTheFileAtThePath)
{
    QTemporaryDir folder;
    const QString pdf = twoPagePdf(folder);
    const QString locked = onePagePdf(folder, true);
    // The same document without its lock opens: the lock alone refuses it.
    ASSERT_EQ(pdfPageCount(onePagePdf(folder, false)), 1);
    ASSERT_FALSE(pdfPageCount(locked).has_value());
    const QString fifo = folder.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString notPdf = folder.filePath(QStringLiteral("plain.pdf"));
    {
        QFile file(notPdf);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a document");
    }
    const auto page = [&](QString path, QString location) {
        return SourceDraft{{}, {}, std::move(path), std::move(location), SourceDraft::physicalPage};
    };
    const struct {
        const char* name;
        SourceDraft draft;
        std::optional<std::int64_t> pdfIndex; // when accepted with a page
        bool accepted;
    } cases[] = {
        {"last page", page(pdf, QStringLiteral("2")), 1, true},
        {"past the last page", page(pdf, QStringLiteral("3")), std::nullopt, false},
        {"page 0", page(pdf, QStringLiteral("0")), std::nullopt, false},
        {"page -1", page(pdf, QStringLiteral("-1")), std::nullopt, false},
        {"leading space", page(pdf, QStringLiteral(" 2")), std::nullopt, false},
        {"no path", page({}, QStringLiteral("1")), std::nullopt, false},
        {"no location", page({}, {}), std::nullopt, true},
        {"a FIFO", page(fifo, QStringLiteral("1")), std::nullopt, false},
        {"a locked PDF", page(locked, QStringLiteral("1")), std::nullopt, false},
        {"not a PDF", page(notPdf, QStringLiteral("1")), std::nullopt, false},
        {"relative path", page(QStringLiteral("two.pdf"), {}), std::nullopt, false},
        {"spaces for an address", {{}, QStringLiteral("   "), {}, {}, 0}, std::nullopt, true},
        {"ftp address", {{}, QStringLiteral("ftp://example.com/a"), {}, {}, 0}, std::nullopt, false},
        {"http without host", {{}, QStringLiteral("http:///a"), {}, {}, 0}, std::nullopt, false},
        {"printed label", {{}, {}, {}, QStringLiteral("iv"), SourceDraft::printedLabel}, std::nullopt, true},
    };
    SourceRecord original;
    original.origin = ImportOrigin::drop;
    original.webURL = QUrl(QStringLiteral("https://example.com/old"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            const std::optional<QString> counted = c.draft.pageCountPath();
            const SourceRecord source
                = validatedSource(c.draft, original, counted ? pdfPageCount(*counted) : std::nullopt);
            EXPECT_TRUE(c.accepted);
            EXPECT_EQ(source.origin, ImportOrigin::drop);
            EXPECT_TRUE(source.isManuallyRegistered);
            EXPECT_EQ(source.webURL.has_value(), !c.draft.url.trimmed().isEmpty());
            if (c.pdfIndex) {
                EXPECT_EQ(source.locator, PageLocator::pdfIndex(*c.pdfIndex));
            } else if (c.draft.page != SourceDraft::printedLabel) {
                EXPECT_FALSE(source.locator.has_value());
            }
        } catch (const StoreError& error) {
            EXPECT_FALSE(c.accepted);
            EXPECT_EQ(error.code(), StoreError::Code::invalidSource);
        }
    }

    // The bookmark names the old file and goes with it.
    original.filePath = pdf;
    original.fileBookmark = QByteArray("bookmark");
    EXPECT_EQ(validatedSource(SourceDraft::of(original), original, std::nullopt).fileBookmark, original.fileBookmark);
    EXPECT_FALSE(validatedSource(page(notPdf, {}), original, std::nullopt).fileBookmark.has_value());
}

// A recorded source path is as it reads: its pages are counted only of the
// one file it can stand for, never of a look-alike.
TEST(SourceFormTests, APathAsItReadsCountsThePagesOfTheOneFileItCanBe)
{
    QTemporaryDir folder;
    QFile two(twoPagePdf(folder));
    ASSERT_TRUE(two.open(QIODevice::ReadOnly));
    const QByteArray rawPath = QFile::encodeName(folder.path()) + "/\xFF\xFE.pdf";
    const int raw = ::open(rawPath.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(raw, 0);
    const QByteArray pdf = two.readAll();
    ASSERT_EQ(::write(raw, pdf.constData(), std::size_t(pdf.size())), pdf.size());
    ::close(raw);
    const QString readable = folder.filePath(QStringLiteral("\uFFFD\uFFFD.pdf"));
    EXPECT_EQ(pdfPageCount(readable), 2);

    ASSERT_TRUE(QFile::rename(onePagePdf(folder, false), readable));
    EXPECT_EQ(pdfPageCount(readable), std::nullopt);
}

struct DetailScene : EditorScene {
    explicit DetailScene(const Build& build)
        : EditorScene(build), editor(*line, *editorStore), detail(*line, *editorStore, DetailActions{}, editor)
    {
        detail.onError = [this](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const StoreError& storeError) {
                errors.push_back(storeError.code());
            } catch (...) {
            }
        };
    }
    const MaterialRecord& stored(const QUuid& id)
    {
        last = EditorScene::stored();
        return *last.findMaterial(id);
    }
    // One text material "words", titled "words"; its id goes to `id`.
    static Build titledWords(QUuid& id)
    {
        return [&id](DataRootBuilder& root) {
            MaterialRecord& record = root.addMaterial("words");
            record.title = QStringLiteral("words");
            id = record.id;
        };
    }

    TextEditorController editor;
    MaterialDetailController detail;
    std::vector<StoreError::Code> errors;
    WorkspaceSnapshot last;
};

TEST(MaterialDetailControllerTests, TheTitleIsSavedBeforeTheSourceAndAnInvalidFormSavesNothing)
{
    const struct {
        const char* name;
        QString title;
        QString url;
        std::optional<StoreError::Code> expected;
        QString storedTitle;
        std::optional<QUrl> storedURL;
    } cases[] = {
        {"title only", QStringLiteral("Renamed"), {}, std::nullopt, QStringLiteral("Renamed"), std::nullopt},
        {"both", QStringLiteral("Renamed"), QStringLiteral("https://example.com/a"), std::nullopt,
            QStringLiteral("Renamed"), QUrl(QStringLiteral("https://example.com/a"))},
        {"empty title", QStringLiteral("   "), {}, StoreError::Code::invalidSource, QStringLiteral("words"),
            std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QUuid id;
        DetailScene scene(DetailScene::titledWords(id));
        ASSERT_EQ(outcome(scene.detail.open(id, false)), std::nullopt);
        EXPECT_FALSE(scene.detail.hasUnsavedChanges());
        scene.detail.titleField().setText(c.title);
        scene.detail.sourceURL().setText(c.url);
        EXPECT_EQ(outcome(scene.detail.persist(true)), c.expected);
        const MaterialRecord& stored = scene.stored(id);
        EXPECT_EQ(stored.title, c.storedTitle);
        EXPECT_EQ(stored.source.webURL, c.storedURL);
        EXPECT_EQ(scene.detail.hasUnsavedChanges(), c.expected.has_value());
        EXPECT_FALSE(scene.detail.isSaving());
        EXPECT_TRUE(scene.detail.saveButton()->isEnabled());
    }
}

// A mistyped address is explained under it, in the form, before any store
// call: no error alert, nothing saved, the title included.
TEST(MaterialDetailControllerTests, AWrongAddressIsExplainedInTheFormAndNothingIsSaved)
{
    const struct {
        const char* address;
        std::optional<MessageKey> problem;
    } cases[] = {
        {"ftp://example.com/a", MessageKey::sourceAddressScheme},
        {"example.com/page", MessageKey::sourceAddressScheme},
        {"http:///a", MessageKey::sourceAddressHost},
        {"https://exa mple.com", MessageKey::sourceAddressUnreadable},
        {" https://example.com/a ", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        QUuid id;
        DetailScene scene(DetailScene::titledWords(id));
        ASSERT_EQ(outcome(scene.detail.open(id, false)), std::nullopt);
        scene.detail.titleField().setText(QStringLiteral("Renamed"));
        scene.detail.sourceURL().setText(QString::fromUtf8(c.address));
        EXPECT_EQ(outcome(scene.detail.persist(true)), std::nullopt);
        EXPECT_TRUE(scene.errors.empty());
        const MaterialRecord& stored = scene.stored(id);
        EXPECT_EQ(scene.detail.sourceProblem().isHidden(), !c.problem.has_value());
        EXPECT_EQ(stored.title, c.problem ? QStringLiteral("words") : QStringLiteral("Renamed"));
        EXPECT_EQ(stored.source.webURL.has_value(), !c.problem.has_value());
        EXPECT_EQ(scene.detail.hasUnsavedChanges(), c.problem.has_value());
        if (c.problem) {
            EXPECT_EQ(scene.detail.sourceProblem().text(), appLocalizer().string(*c.problem));
            scene.detail.sourceURL().setText(QStringLiteral("https://example.com/"));
            EXPECT_TRUE(scene.detail.sourceProblem().isHidden()) << "a changed address is not judged yet";
        }
    }
}

// The source's file is chosen in a dialog that tells kinds from names alone.
TEST(MaterialDetailControllerTests, TheSourceFileIsChosenInADialogThatReadsNoFile)
{
    QUuid id;
    DetailScene scene(DetailScene::titledWords(id));
    ASSERT_EQ(outcome(scene.detail.open(id, false)), std::nullopt);
    QPushButton* choose = nullptr;
    for (QPushButton* button : scene.detail.window()->findChildren<QPushButton*>()) {
        if (button->text() == appLocalizer().string(MessageKey::chooseSourceFile))
            choose = button;
    }
    ASSERT_NE(choose, nullptr);
    QAbstractFileIconProvider* provider = nullptr;
    QTimer::singleShot(0, [&] {
        if (auto* panel = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            provider = panel->iconProvider();
            panel->reject();
        }
    });
    choose->click();
    EXPECT_NE(dynamic_cast<NameOnlyFileIconProvider*>(provider), nullptr);
}

TEST(MaterialDetailControllerTests, OpeningAnotherMaterialAsksAboutUnsavedEdits)
{
    const struct {
        const char* name;
        Choice choice;
        bool switches;
        QString storedTitle;
    } cases[] = {
        {"continue", Choice::continueEditing, false, QStringLiteral("first")},
        {"discard", Choice::discard, true, QStringLiteral("first")},
        {"save", Choice::save, true, QStringLiteral("edited")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QUuid first, second;
        DetailScene scene([&](DataRootBuilder& root) {
            MaterialRecord& a = root.addMaterial("a");
            a.title = QStringLiteral("first");
            first = a.id;
            second = root.addMaterial("b").id;
        });
        int asked = 0;
        scene.detail.chooseUnsavedChanges = [&] {
            ++asked;
            return c.choice;
        };
        ASSERT_EQ(outcome(scene.detail.open(first, true)), std::nullopt);
        EditorWindow* firstWindow = scene.detail.window();
        scene.detail.titleField().setText(QStringLiteral("edited"));

        // The same material only comes to the front, edits kept.
        ASSERT_EQ(outcome(scene.detail.open(first, true)), std::nullopt);
        EXPECT_EQ(asked, 0);
        EXPECT_EQ(scene.detail.window(), firstWindow);
        EXPECT_EQ(scene.detail.titleField().text(), QStringLiteral("edited"));

        ASSERT_EQ(outcome(scene.detail.open(second, true)), std::nullopt);
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(scene.detail.materialID(), c.switches ? second : first);
        EXPECT_EQ(scene.stored(first).title, c.storedTitle);
        EXPECT_EQ(scene.detail.hasUnsavedChanges(), !c.switches);
    }
}

TEST(MaterialDetailControllerTests, TextPreviewsStopAtTheLimitAndClosingWhileSavingIsRefused)
{
    QUuid small, large;
    DetailScene scene([&](DataRootBuilder& root) {
        small = root.addMaterial(QByteArray(1048576, 'a')).id;
        large = root.addMaterial(QByteArray(1048577, 'a')).id;
    });
    ASSERT_EQ(outcome(scene.detail.open(large, false)), std::nullopt);
    ASSERT_NE(qobject_cast<QLabel*>(scene.detail.preview()), nullptr);
    EXPECT_TRUE(qobject_cast<QLabel*>(scene.detail.preview())->text().contains(QStringLiteral("1048577")));
    ASSERT_EQ(outcome(scene.detail.open(small, false)), std::nullopt);
    EXPECT_NE(qobject_cast<QTabWidget*>(scene.detail.preview()), nullptr);

    scene.detail.titleField().setText(QStringLiteral("Renamed"));
    testing::Outcome saving;
    auto running = testing::record(scene.detail.persist(true), &saving);
    EXPECT_TRUE(scene.detail.isSaving());
    scene.detail.window()->close();
    ASSERT_TRUE(waitUntil([&] { return saving.done && !scene.errors.empty(); }));
    EXPECT_EQ(scene.errors, std::vector<StoreError::Code>{StoreError::Code::operationInProgress});
    EXPECT_NE(scene.detail.window(), nullptr);

    // Clean now: the close button closes.
    scene.detail.window()->close();
    ASSERT_TRUE(waitUntil([&] { return scene.detail.window() == nullptr; }));
    EXPECT_EQ(scene.stored(small).title, QStringLiteral("Renamed"));
}

// The open window follows the material's versions: a version the text
// editor saves shows at once beside the original, and what the user typed
// into the form stays.
TEST(MaterialDetailControllerTests, AnOpenWindowShowsANewVersionAndKeepsTheForm)
{
    QUuid id;
    DetailScene scene([&](DataRootBuilder& root) { id = root.addMaterial("first").id; });
    ASSERT_EQ(outcome(scene.detail.open(id, false)), std::nullopt);
    const auto tabs = [&] { return qobject_cast<QTabWidget*>(scene.detail.preview()); };
    ASSERT_NE(tabs(), nullptr);
    EXPECT_EQ(tabs()->count(), 1);
    scene.detail.titleField().setText(QStringLiteral("typed"));

    ASSERT_EQ(outcome(scene.editor.open(id, true)), std::nullopt);
    scene.editor.textView().replaceText(QStringLiteral("second draft"));
    ASSERT_EQ(outcome(scene.editor.save()), std::nullopt);

    ASSERT_TRUE(waitUntil([&] { return tabs() && tabs()->count() == 2; }));
    const QStringList shown{qobject_cast<QTextEdit*>(tabs()->widget(0))->toPlainText(),
        qobject_cast<QTextEdit*>(tabs()->widget(1))->toPlainText()};
    EXPECT_EQ(shown, (QStringList{QStringLiteral("second draft"), QStringLiteral("first")}));
    EXPECT_EQ(tabs()->tabText(0), appLocalizer().string(MessageKey::editedText));
    EXPECT_EQ(scene.detail.titleField().text(), QStringLiteral("typed"));
    EXPECT_TRUE(scene.errors.empty());
}

// The pages of a PDF are counted on the pool while the save waits with the
// form read-only; an answer that comes back to a window covered meanwhile
// saves nothing, and the material that asked is the one that gets the page.
TEST(MaterialDetailControllerTests, APageIsCheckedAgainstAPdfCountedOffTheGuiThread)
{
    enum class Meanwhile { nothing, cover, openAnother };
    const struct {
        const char* name;
        bool hold;
        Meanwhile meanwhile;
        std::optional<StoreError::Code> expected;
    } cases[] = {
        {"counted on the pool", false, Meanwhile::nothing, std::nullopt},
        {"held answer", true, Meanwhile::nothing, std::nullopt},
        {"covered meanwhile", true, Meanwhile::cover, StoreError::Code::invalidSource},
        {"another material asked for", true, Meanwhile::openAnother, std::nullopt},
    };
    QTemporaryDir folder;
    const QString pdf = twoPagePdf(folder);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QUuid id, other;
        DetailScene scene([&](DataRootBuilder& root) {
            MaterialRecord& record = root.addMaterial("words");
            record.title = QStringLiteral("words");
            id = record.id;
            other = root.addMaterial("more").id;
        });
        std::optional<QPromise<std::optional<int>>> held;
        if (c.hold) {
            scene.detail.countPages = [&](const QString& path) {
                EXPECT_EQ(path, pdf);
                held.emplace();
                held->start();
                return held->future();
            };
        }
        ASSERT_EQ(outcome(scene.detail.open(id, false)), std::nullopt);
        scene.detail.titleField().setText(QStringLiteral("Renamed"));
        scene.detail.sourcePath().setText(pdf);
        scene.detail.pageKind().setCurrentIndex(SourceDraft::physicalPage);
        scene.detail.sourceLocation().setText(QStringLiteral("2"));
        testing::Outcome saving;
        auto running = testing::record(scene.detail.persist(true), &saving);
        testing::Outcome opening;
        std::optional<QCoro::Task<void>> openingOther;
        if (c.hold) {
            ASSERT_TRUE(waitUntil([&] { return held.has_value(); }));
            EXPECT_TRUE(scene.detail.isSaving());
            EXPECT_TRUE(scene.detail.sourcePath().isReadOnly());
            if (c.meanwhile == Meanwhile::cover) {
                scene.cover();
                scene.uncover();
            }
            if (c.meanwhile == Meanwhile::openAnother)
                openingOther.emplace(testing::record(scene.detail.open(other, false), &opening));
            QCoreApplication::processEvents();
            EXPECT_EQ(scene.detail.materialID(), id);
            held->addResult(std::optional<int>(2));
            held->finish();
        }
        ASSERT_TRUE(waitUntil([&] { return saving.done; }));
        EXPECT_EQ(saving.code, c.expected);
        EXPECT_EQ(scene.stored(id).source.locator,
            c.expected ? std::nullopt : std::optional<PageLocator>(PageLocator::pdfIndex(1)));
        EXPECT_EQ(scene.stored(id).title, c.expected ? QStringLiteral("words") : QStringLiteral("Renamed"));
        EXPECT_FALSE(scene.stored(other).source.locator.has_value());
        if (openingOther) {
            ASSERT_TRUE(waitUntil([&] { return opening.done; }));
            EXPECT_EQ(opening.code, std::nullopt);
            EXPECT_EQ(scene.detail.materialID(), other);
        }
    }
}

} // namespace
} // namespace tolvex
