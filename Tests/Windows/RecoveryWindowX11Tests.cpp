// The recovery window on the test desktop at the size it opens with, in
// each language: every row's text and button lies within the window and
// reads whole, or is a name cut with an ellipsis whose whole text is its
// tooltip; what became of an item (its kind, its marks, its date) is never
// cut. An empty window says that there
// is nothing to review. The pictures are saved under "recovery-window"
// beside the test executable for a person to look at.
#include "Support/ImageFixtures.h"
#include "TolvexCore/Model/UuidText.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Windows/ElidedLabel.h"
#include "Windows/RecoveryTesting.h"
#include "Windows/WindowsTesting.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QScrollArea>
#include <QWindow>

#include <gtest/gtest.h>

namespace tolvex::testing {
namespace {

QString text(MessageKey key)
{
    return appLocalizer().string(key);
}

QStringList shownTexts(QWidget* window)
{
    QStringList texts;
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        if (label->isVisible())
            texts.append(label->text());
    }
    return texts;
}

void save(QWidget* window, const QString& name)
{
    const QString folder = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("recovery-window"));
    QDir().mkpath(folder);
    window->grab().save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

// The rig's recovery window shown in `language`, once it is on screen.
void showIn(RecoveryRig& rig, const char* language, QWidget*& window)
{
    replaceAppLocalizer(Localizer(QString::fromLatin1(language)));
    ASSERT_EQ(outcome(rig.controller->show(std::nullopt)), std::nullopt);
    window = rig.controller->recoveryWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(
        waitUntil([&] { return window->isVisible() && window->windowHandle() && window->windowHandle()->isExposed(); }));
}

TEST(RecoveryWindowX11, EveryRowReadsWholeOrCutWithItsTextOnHoverInEveryLanguage)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    const Localizer before = appLocalizer();
    {
        RecoveryRig empty;
        empty.builder.addMaterial("Hanging, nothing to review");
        empty.start();
        for (const char* language : {"en", "es", "zh-Hans"}) {
            SCOPED_TRACE(language);
            QWidget* window = nullptr;
            ASSERT_NO_FATAL_FAILURE(showIn(empty, language, window));
            EXPECT_TRUE(shownTexts(window).contains(text(MessageKey::recoveryNothingToReview)))
                << shownTexts(window).join(u'|').toStdString();
            save(window, QString::fromLatin1(language) + QStringLiteral("-empty"));
            window->hide();
        }
    }

    // Work of every kind that the window lists: a material to review with a
    // long title, kept markups with and without marks, a note draft and a
    // staging file.
    RecoveryRig rig;
    MaterialRecord& picture = rig.builder.addMaterial(
        test::encodeImage(test::patternImage(40, 30), "png"), MaterialStatus::hanging, QStringLiteral("png"));
    picture.kind = MaterialKind::image;
    picture.title = QStringLiteral("Quarterly figures for the board, second draft with the corrections from Tuesday");
    const QUuid image = picture.id;
    MaterialRecord& plain = rig.builder.addMaterial(
        test::encodeImage(test::patternImage(40, 30), "png"), MaterialStatus::hanging, QStringLiteral("png"));
    plain.kind = MaterialKind::image;
    plain.title = QStringLiteral("Whiteboard");
    const QUuid unmarked = plain.id;
    rig.builder.addMaterial("A contract", MaterialStatus::needsReview).title
        = QStringLiteral("Scanned contract for the lease of the workshop on the corner of Mill Street and Station Road");
    rig.builder.writeFile(
        QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".stage"), "left over");
    rig.start();
    const EditSession marked = waitForResult(rig.store->createDerivedVersion(image, VersionKind::markup));
    QFile working(marked.workingURL.toLocalFile());
    ASSERT_TRUE(working.open(QIODevice::WriteOnly | QIODevice::Truncate));
    working.write(test::encodeImage(test::patternImage(41, 30), "png"));
    working.close();
    waitForResult(rig.store->createDerivedVersion(unmarked, VersionKind::markup));
    const NoteDraft draft = waitForResult(rig.store->createNoteDraft(std::nullopt));
    waitForResult(rig.store->updateNoteDraft(draft.id, QStringLiteral("Call the plumber about the boiler on Monday")));

    for (const char* language : {"en", "es", "zh-Hans"}) {
        SCOPED_TRACE(language);
        QWidget* window = nullptr;
        ASSERT_NO_FATAL_FAILURE(showIn(rig, language, window));
        EXPECT_EQ(window->size(), QSize(580, 380)) << "not the size it opens with";
        QCoreApplication::processEvents();
        const QStringList texts = shownTexts(window);
        EXPECT_FALSE(texts.contains(text(MessageKey::recoveryNothingToReview)));
        // The kept markup's state is there, marks and all.
        EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
            [](const QString& shown) { return shown.contains(text(MessageKey::recoveryWithMarks)); }))
            << texts.join(u'|').toStdString();

        // The list scrolls only up and down: whatever lies past the
        // viewport's right edge cannot be seen at all.
        const auto* scroll = window->findChild<QScrollArea*>();
        ASSERT_NE(scroll, nullptr);
        const QWidget* viewport = scroll->viewport();
        const auto withinWidth = [viewport](const QWidget* widget) {
            const int left = widget->mapTo(viewport, QPoint(0, 0)).x();
            return left >= 0 && left + widget->width() <= viewport->width();
        };
        for (const ActionButton* button : window->findChildren<ActionButton*>())
            EXPECT_TRUE(withinWidth(button)) << "off the window: " << button->text().toStdString();
        int rows = 0;
        for (const QLabel* label : window->findChildren<QLabel*>()) {
            if (!label->isVisible() || label->text().isEmpty())
                continue;
            ++rows;
            EXPECT_TRUE(withinWidth(label)) << "off the window: " << label->text().toStdString();
            const auto* cut = qobject_cast<const ElidedLabel*>(label);
            const QString whole = cut ? cut->fullText() : label->text();
            if (cut && label->text() != whole) {
                // A name, cut where the row ends: hovering shows it whole.
                EXPECT_EQ(label->toolTip(), whole);
                EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
                EXPECT_FALSE(whole.contains(text(MessageKey::retainedDraft))) << "a state is cut: " << whole.toStdString();
            }
            EXPECT_TRUE(showsWhole(label)) << "clipped: " << label->text().toStdString();
        }
        EXPECT_GE(rows, 7);
        save(window, QString::fromLatin1(language));
        window->hide();
    }
    replaceAppLocalizer(before);
}

} // namespace
} // namespace tolvex::testing
