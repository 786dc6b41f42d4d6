// Every window and alert of the program, opened on the test desktop in each
// language at the desktop's font size and at a quarter larger: no label,
// button, tab, list row or window title may be cut. Each window is saved as
// a picture under "window-texts" beside the test executable for a person to
// look at.
#include "Windows/SettingsTesting.h"
#include "Windows/WindowsTesting.h"

#include "Support/ImageFixtures.h"
#include "TolvexCore/Images/ImageAdmissionError.h"
#include "TolvexCore/Model/UuidText.h"
#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Actions/MarkupEditorWindow.h"
#include "Velmarin/Actions/MaterialActions.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shell/LaunchRecovery.h"
#include "Velmarin/Shell/QuitGate.h"
#include "Velmarin/Shell/WorkflowAlerts.h"
#include "Velmarin/Windows/EditorStore.h"
#include "Velmarin/Windows/EditorSupport.h"
#include "Velmarin/Windows/IntakeSettingsView.h"
#include "Velmarin/Windows/MaterialDetailController.h"
#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Windows/SettingsStoragePage.h"
#include "Velmarin/Windows/ReviewUnavailableError.h"
#include "Velmarin/Windows/StorageCleanupPreview.h"
#include "Velmarin/Windows/TextEditorController.h"
#include "Velmarin/Windows/WorkflowRecoveryController.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <gtest/gtest.h>

#include <cmath>

namespace tolvex::testing {
namespace {

// Room a window manager takes from a title bar for its icon and buttons,
// and the height of the bar.
constexpr int titleBarControls = 120;
constexpr int titleBarHeight = 20;

QString named(const QWidget* widget, const QString& text)
{
    return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(widget->metaObject()->className()), text);
}

bool buttonFits(const QAbstractButton* button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    QStyle::SubElement contents = QStyle::SE_PushButtonContents;
    if (qobject_cast<const QCheckBox*>(button))
        contents = QStyle::SE_CheckBoxContents;
    else if (qobject_cast<const QRadioButton*>(button))
        contents = QStyle::SE_RadioButtonContents;
    else if (const auto* push = qobject_cast<const QPushButton*>(button); push && push->isFlat())
        option.features |= QStyleOptionButton::Flat;
    const QRect room = button->style()->subElementRect(contents, &option, button);
    int needed = button->fontMetrics().size(Qt::TextShowMnemonic, button->text()).width();
    if (!button->icon().isNull() && contents == QStyle::SE_PushButtonContents)
        needed += button->iconSize().width() + 4;
    return needed <= room.width() && button->fontMetrics().height() <= room.height();
}

bool comboFits(const QComboBox* combo)
{
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = combo->isEditable();
    option.frame = combo->hasFrame();
    option.currentText = combo->currentText();
    const QRect room
        = combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
    return combo->fontMetrics().horizontalAdvance(combo->currentText()) <= room.width();
}

// What of `window` is cut: its title, and each text shown by one of its
// widgets that does not fit the widget's room for it. Item views elide
// their rows by design and are left out; a text the program cut itself
// ends in an ellipsis and fits.
QStringList cutTexts(QWidget* window)
{
    QStringList cut;
    QFont titleFont = window->font();
    titleFont.setBold(true);
    const QString title = window->windowTitle();
    if (QFontMetrics(titleFont).horizontalAdvance(title) + titleBarControls > window->width())
        cut << QStringLiteral("window title \"%1\" in a window %2 wide").arg(title).arg(window->width());
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->window() != window || !widget->isVisible())
            continue;
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            if (!label->text().isEmpty() && !showsWhole(label))
                cut << named(label, label->text());
        } else if (const auto* tool = qobject_cast<const QToolButton*>(widget)) {
            if (!tool->text().isEmpty() && tool->width() < tool->sizeHint().width())
                cut << named(tool, tool->text());
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
            if (!button->text().isEmpty() && !buttonFits(button))
                cut << named(button, button->text());
        } else if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
            if (!comboFits(combo))
                cut << named(combo, combo->currentText());
        } else if (const auto* tabs = qobject_cast<const QTabBar*>(widget)) {
            for (int index = 0; index < tabs->count(); ++index) {
                const QRect tab = tabs->tabRect(index);
                const int needed = tabs->fontMetrics().size(Qt::TextShowMnemonic, tabs->tabText(index)).width()
                    + tabs->style()->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, tabs);
                if (!tabs->rect().contains(tab) || tab.width() < needed)
                    cut << named(tabs, tabs->tabText(index));
            }
        }
    }
    return cut;
}

bool exposed(QWidget* window)
{
    return waitUntil([&] { return window->isVisible() && window->windowHandle() && window->windowHandle()->isExposed(); });
}

// Checks one window of a pass and saves its picture, frame and title included.
class Inspection {
public:
    explicit Inspection(QString pass) : pass_(std::move(pass))
    {
        folder_ = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("window-texts"));
        QDir().mkpath(folder_);
    }

    void check(QWidget* window, const QString& name)
    {
        ++checked;
        ASSERT_NE(window, nullptr) << name.toStdString();
        ASSERT_TRUE(exposed(window)) << name.toStdString();
        QCoreApplication::processEvents();
        for (const QString& text : cutTexts(window))
            ADD_FAILURE() << pass_.toStdString() << ", " << name.toStdString() << ": cut " << text.toStdString();
        // The window and the title bar above it lie on the screen's available area.
        const QRect available = window->screen()->availableGeometry();
        EXPECT_TRUE(available.adjusted(0, titleBarHeight, 0, 0).contains(window->geometry()))
            << pass_.toStdString() << ", " << name.toStdString() << " lies off the available area";
        save(window, name);
    }

    int checked = 0;

private:
    // The window as Qt paints it, under a strip holding its title (the
    // window manager's frame is not in the picture).
    void save(QWidget* window, const QString& name) const
    {
        const QPixmap content = window->grab();
        QFont titleFont = window->font();
        titleFont.setBold(true);
        const int strip = QFontMetrics(titleFont).height() + 8;
        QImage picture(content.width(), content.height() + strip, QImage::Format_RGB32);
        picture.fill(Qt::lightGray);
        QPainter painter(&picture);
        painter.setFont(titleFont);
        painter.drawText(QRect(0, 0, picture.width(), strip), Qt::AlignCenter, window->windowTitle());
        painter.drawPixmap(0, strip, content);
        painter.end();
        picture.save(QDir(folder_).filePath(pass_ + QLatin1Char('-') + name + QStringLiteral(".png")));
    }

    QString pass_;
    QString folder_;
};

// Every message box that comes up is checked as soon as it shows, then
// closed unanswered, so that any path to an alert can be walked.
class AlertWatch final : public QObject {
public:
    explicit AlertWatch(Inspection& inspection) : inspection_(inspection) { qApp->installEventFilter(this); }
    ~AlertWatch() override { qApp->removeEventFilter(this); }

    QString name;
    int shown = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (box && event->type() == QEvent::Show) {
            ++shown;
            const QPointer<QMessageBox> alert(box);
            QTimer::singleShot(0, this, [this, alert, name = name + QString::number(shown)] {
                if (!alert)
                    return;
                inspection_.check(alert, name);
                if (alert)
                    alert->done(0);
            });
        }
        return false;
    }

private:
    Inspection& inspection_;
};

struct WindowsOfOnePass {
    WindowsOfOnePass()
    {
        MaterialRecord& image = rig.builder.addMaterial(test::encodeImage(test::patternImage(120, 80), "png"),
            MaterialStatus::hanging, QStringLiteral("png"), {}, ImportOrigin::screenshot);
        image.kind = MaterialKind::image;
        image.title = QStringLiteral("Quarterly figures for the board, second draft");
        imageID = image.id;
        MaterialRecord& text = rig.builder.addMaterial("A text kept on the rope");
        text.title = QStringLiteral("Meeting notes");
        textID = text.id;
        for (const char* title : {"Receipt from the hardware shop", "Train times"}) {
            MaterialRecord& down = rig.builder.addMaterial(title, MaterialStatus::takenDown);
            down.title = QString::fromLatin1(title);
        }
        rig.builder.addMaterial("odd", MaterialStatus::needsReview).title = QStringLiteral("Scanned contract");
        rig.builder.writeFile(
            QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".stage"), "left");
        rig.start(true);
        write(rig.path(writeOldExport(rig, QByteArray(1500, 'x')) + QStringLiteral("/more.txt")), "y");
        const NoteDraft draft = waitForResult(rig.store->createNoteDraft(std::nullopt));
        waitForResult(rig.store->updateNoteDraft(draft.id, QStringLiteral("Call the plumber about the boiler")));

        editorStore.emplace(rig.store.get());
        textEditor.emplace(*rig.line, *editorStore);
        noteEditor.emplace(*rig.line, *editorStore);
        DetailActions none;
        none.copy = [](QUuid, bool) -> QCoro::Task<void> { co_return; };
        none.open = [](QUuid) -> QCoro::Task<void> { co_return; };
        detail.emplace(*rig.line, *editorStore, none, *textEditor);
        markup.emplace([](const QUrl&) {}, [] {});
        actions.emplace(*rig.line, rig.builder.rootURL(), rig.store.get(), nullptr, nullptr, &*markup);
        recovery.emplace(*rig.line, *actions, &*markup);
    }

    SettingsRig rig;
    QUuid imageID;
    QUuid textID;
    std::optional<MaterialEditorStore> editorStore;
    std::optional<TextEditorController> textEditor;
    std::optional<NoteEditorController> noteEditor;
    std::optional<MaterialDetailController> detail;
    std::optional<Markup> markup;
    std::optional<MaterialActions> actions;
    std::optional<WorkflowRecoveryController> recovery;
};

void checkEveryWindow(Inspection& inspection)
{
    WindowsOfOnePass pass;
    IntakeSettingsController& settings = *pass.rig.controller;
    settings.present(0);
    inspection.check(settings.window(), QStringLiteral("settings-intake"));
    settings.present(1);
    ASSERT_TRUE(waitUntil([&] { return settings.settingsContent()->storagePage()->showsUsage(); }));
    inspection.check(settings.window(), QStringLiteral("settings-storage"));
    QCoro::waitFor(pass.rig.model->previewCleanup());
    ASSERT_TRUE(waitUntil([&] { return settings.window()->findChild<CleanupPreviewView*>() != nullptr; }));
    inspection.check(settings.window()->findChild<CleanupPreviewView*>(), QStringLiteral("cleanup-preview"));
    pass.rig.model->cancelCleanup();
    settings.window()->hide();

    ASSERT_EQ(outcome(pass.detail->open(pass.imageID, true)), std::nullopt);
    auto* disclosure = pass.detail->window()->findChild<QToolButton*>(QStringLiteral("sourceDisclosure"));
    ASSERT_NE(disclosure, nullptr);
    disclosure->click();
    inspection.check(pass.detail->window(), QStringLiteral("detail"));
    ASSERT_EQ(outcome(pass.detail->dismiss()), std::nullopt);
    ASSERT_EQ(outcome(pass.textEditor->open(pass.textID, true)), std::nullopt);
    inspection.check(pass.textEditor->window(), QStringLiteral("text-editor"));
    ASSERT_EQ(outcome(pass.textEditor->cancel()), std::nullopt);
    ASSERT_EQ(outcome(pass.noteEditor->openNew(true)), std::nullopt);
    inspection.check(pass.noteEditor->window(), QStringLiteral("note-editor"));
    ASSERT_EQ(outcome(pass.noteEditor->dismiss()), std::nullopt);

    ASSERT_EQ(outcome(pass.recovery->show(std::nullopt)), std::nullopt);
    inspection.check(pass.recovery->recoveryWindow(), QStringLiteral("recovery"));
    pass.recovery->recoveryWindow()->hide();
    ASSERT_EQ(outcome(pass.recovery->showTakenDown()), std::nullopt);
    inspection.check(pass.recovery->takenDownWindow(), QStringLiteral("taken-down"));
    pass.recovery->takenDownWindow()->hide();

    MarkupEditorWindow markupWindow(test::patternImage(320, 200));
    markupWindow.show();
    inspection.check(&markupWindow, QStringLiteral("markup-editor"));
    markupWindow.hide();

    AlertWatch watch(inspection);
    WorkflowAlerts alerts(*pass.rig.line, {});
    watch.name = QStringLiteral("action-alert");
    for (const std::exception_ptr& error : {std::make_exception_ptr(StoreError::budgetExceeded()),
             std::make_exception_ptr(StoreError::sourceChanged()), std::make_exception_ptr(StoreError::invalidPath()),
             std::make_exception_ptr(StoreError::operationInProgress()),
             std::make_exception_ptr(StoreError::recoveryRequired()),
             std::make_exception_ptr(ImageAdmissionError(ImageAdmissionError::Code::pixelBudgetExceeded))})
        alerts.presentActionError(error);
    watch.name = QStringLiteral("review-unavailable-alert");
    alerts.presentActionError(std::make_exception_ptr(ReviewUnavailableError(
        std::make_exception_ptr(StoreError::recoveryRequired()),
        QUrl::fromLocalFile(QStringLiteral("/home/someone/.local/share/Tolvex/Drafts")))));
    watch.name = QStringLiteral("capture-alert");
    alerts.presentCaptureError(std::make_exception_ptr(StoreError::invalidPath()));
    watch.name = QStringLiteral("discard-alert");
    EditorSupport::confirmDiscard(*pass.rig.line, {});
    watch.name = QStringLiteral("quit-alert");
    QuitGate::Participants busy;
    busy.clipboard = QuitGate::Clipboard{[] { return true; }, [] { return false; }, [] {}, [] {}};
    QuitGate::requestTermination(busy, [&](Alert& alert) { return pass.rig.line->runAlert(alert); });
    busy.clipboard.reset();
    busy.markup = QuitGate::MarkupSession{true, false, false, {}, {}};
    QuitGate::requestTermination(busy, [&](Alert& alert) { return pass.rig.line->runAlert(alert); });
    watch.name = QStringLiteral("launch-alert");
    bool interrupted = false;
    LaunchRecovery launch(*pass.rig.line,
        {[] { return QtFuture::makeReadyFuture(true); }, {}, {},
            [&](Alert& alert) { return pass.rig.line->runAlert(alert); },
            [&](std::exception_ptr, bool) { interrupted = true; }, [] {}, [] {}, {}});
    launch.present(std::make_exception_ptr(StoreError::recoveryRequired()), true);
    ASSERT_TRUE(waitUntil([&] { return interrupted; }));
    watch.name = QStringLiteral("linked-library-alert");
    interrupted = false;
    const LaunchRecovery::RootLink link{QStringLiteral("/home/someone/.local/share/Tolvex"),
        QStringLiteral("/media/someone/Archive Disk/Libraries/Tolvex")};
    LaunchRecovery linked(*pass.rig.line,
        {{}, {}, {}, [&](Alert& alert) { return pass.rig.line->runAlert(alert); },
            [&](std::exception_ptr, bool) { interrupted = true; }, [] {}, [] {},
            [&] { return QtFuture::makeReadyFuture(std::optional<LaunchRecovery::RootLink>(link)); }});
    linked.present(std::make_exception_ptr(StoreError::invalidPath()), true);
    ASSERT_TRUE(waitUntil([&] { return interrupted; }));
    EXPECT_EQ(watch.shown, 13);
}

// Runs this test again in a process of its own whose fonts are a quarter
// larger, as a desktop's text scaling makes them.
bool passesWithLargerText(const QString& test)
{
    const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInch();
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_FONT_DPI"), QString::number(std::lround(dpi * 1.25)));
    // Only the text grows; the windows and the screen keep their pixels.
    environment.insert(QStringLiteral("QT_ENABLE_HIGHDPI_SCALING"), QStringLiteral("0"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=") + test});
    return child.waitForStarted() && child.waitForFinished(120000) && child.exitStatus() == QProcess::NormalExit
        && child.exitCode() == 0;
}

TEST(WindowTextsX11, EveryWindowAndAlertShowsItsTextsWholeInEveryLanguage)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    const bool larger = qEnvironmentVariableIsSet("QT_FONT_DPI");
    const Localizer before = appLocalizer();
    for (const char* language : {"en", "es", "zh-Hans"}) {
        replaceAppLocalizer(Localizer(QString::fromLatin1(language)));
        Inspection inspection(QString::fromLatin1(language) + (larger ? QStringLiteral("-larger") : QString()));
        checkEveryWindow(inspection);
        EXPECT_EQ(inspection.checked, 22) << language;
    }
    replaceAppLocalizer(before);
    if (!larger) {
        EXPECT_TRUE(passesWithLargerText(QStringLiteral("WindowTextsX11.*")));
    }
}

} // namespace
} // namespace tolvex::testing
