#include "Velmarin/Windows/IntakeSettingsView.h"

#include "Velmarin/Actions/ActionButton.h"
#include "Velmarin/Presentation/PanelAppearance.h"
#include "Velmarin/Windows/IntakeSettingsModel.h"
#include "Velmarin/Windows/SettingsIntakePage.h"
#include "Velmarin/Windows/SettingsStoragePage.h"
#include "Velmarin/Windows/SettingsWidgets.h"
#include "Velmarin/Windows/StorageCleanupPreview.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

namespace tolvex {

using namespace SettingsWidgets;

IntakeSettingsView::IntakeSettingsView(IntakeSettingsModel& model, HotKey* hotKey, int spacing, QWidget* parent)
    : QWidget(parent), model_(model)
{
    setMinimumSize(500, 480);
    QPalette paper = palette();
    paper.setColor(QPalette::Window, PanelAppearance::paper(paper));
    setPalette(paper);
    setAutoFillBackground(true);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    picker_ = new QTabBar;
    picker_->setAccessibleName(SettingsWidgets::text(MessageKey::intakeSettings));
    picker_->addTab(SettingsWidgets::text(MessageKey::settingsIntake));
    picker_->addTab(SettingsWidgets::text(MessageKey::settingsStorage));
    picker_->setExpanding(true);
    // Both page names whole in every language: the picker grows past its
    // usual width rather than cutting a name or scrolling between two tabs.
    picker_->setElideMode(Qt::ElideNone);
    picker_->setUsesScrollButtons(false);
    picker_->setMinimumWidth(184);
    connect(picker_, &QTabBar::tabBarClicked, this, [this](int index) {
        if (index >= 0)
            model_.setPage(index);
    });
    column->addSpacing(16);
    column->addWidget(picker_, 0, Qt::AlignHCenter);
    column->addSpacing(8);

    pages_ = new QStackedWidget;
    intake_ = new SettingsIntakePage(model, hotKey, spacing);
    storage_ = new SettingsStoragePage(model, spacing);
    pages_->addWidget(intake_);
    pages_->addWidget(storage_);
    scroll_ = new QScrollArea;
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidget(pages_);
    column->addWidget(scroll_, 1);
    column->addWidget(divider());

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(24, 14, 24, 14);
    footer->setSpacing(10);
    // The maker's mark, without a web address: the program has no site of its
    // own to send the user to.
    QLabel* mark = label(QStringLiteral("Tolvex"), 12, false, false);
    mark->setTextFormat(Qt::PlainText);
    footer->addWidget(mark);
    footer->addStretch();
    failureIcon_ = label(QStringLiteral("\u26A0"), 12, false, false);
    footer->addWidget(failureIcon_);
    status_ = label(QString(), 12);
    footer->addWidget(status_);
    retry_ = new ActionButton(SettingsWidgets::text(MessageKey::settingsRetry), [this] { model_.retry(); });
    footer->addWidget(retry_);
    column->addLayout(footer);

    connect(&model_, &IntakeSettingsModel::changed, this, &IntakeSettingsView::sync);
    sync();
}

void IntakeSettingsView::sync()
{
    const int page = model_.page() == 0 ? 0 : 1;
    picker_->setCurrentIndex(page);
    pages_->setCurrentIndex(page);
    if (page != shownPage_) {
        shownPage_ = page;
        // Each page is as tall as itself, not as the taller of the two, and
        // opens at its top rather than where the other one was scrolled to.
        for (QWidget* each : {static_cast<QWidget*>(intake_), static_cast<QWidget*>(storage_)}) {
            const bool shown = each == pages_->currentWidget();
            each->setSizePolicy(QSizePolicy::Preferred, shown ? QSizePolicy::Preferred : QSizePolicy::Ignored);
        }
        pages_->adjustSize();
        scroll_->verticalScrollBar()->setValue(0);
    }
    intake_->sync();
    storage_->sync();

    // A failure outranks a running save: the user must see that the last one did not stick.
    QPalette statusPalette = status_->palette();
    if (model_.failed()) {
        status_->setText(SettingsWidgets::text(MessageKey::inputSettingsFailed));
        statusPalette.setColor(QPalette::WindowText, Qt::red);
    } else if (model_.saving() || model_.didSave()) {
        status_->setText(SettingsWidgets::text(model_.saving() ? MessageKey::settingsSaving : MessageKey::settingsSaved));
        statusPalette.setColor(QPalette::WindowText, palette().color(QPalette::PlaceholderText));
    }
    status_->setPalette(statusPalette);
    failureIcon_->setPalette(statusPalette);
    status_->setVisible(model_.failed() || model_.saving() || model_.didSave());
    failureIcon_->setVisible(model_.failed());
    retry_->setVisible(model_.failed());
    retry_->setEnabled(!model_.saving());

    const bool sheetWanted = model_.showCleanup() && model_.cleanupPlan();
    if (sheetWanted && !sheet_) {
        sheet_ = new CleanupPreviewView(model_, *model_.cleanupPlan(), window());
        sheet_->setAttribute(Qt::WA_DeleteOnClose);
        sheet_->open();
    } else if (!sheetWanted && sheet_) {
        sheet_->dismiss();
        sheet_ = nullptr;
    }
    if (sheet_)
        sheet_->sync();
}

} // namespace tolvex
