#include "Velmarin/Windows/StorageCleanupPreview.h"

#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Actions/ActionButton.h"
#include "Velmarin/Common/ByteCountFormat.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Windows/ElidedLabel.h"
#include "Velmarin/Windows/IntakeSettingsModel.h"
#include "Velmarin/Windows/SettingsWidgets.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace tolvex {

using namespace SettingsWidgets;

namespace {

MessageKey kindLabel(CleanupTarget::Kind kind)
{
    switch (kind) {
    case CleanupTarget::Kind::temporaryExport:
        return MessageKey::libraryExports;
    case CleanupTarget::Kind::completedEdit:
        return MessageKey::cleanupCompletedEdits;
    case CleanupTarget::Kind::pendingDraft:
        return MessageKey::cleanupPendingDraft;
    case CleanupTarget::Kind::unownedStaging:
    case CleanupTarget::Kind::material:
        break;
    }
    return MessageKey::stagingTitle;
}

ElidedLabel* oneLine(const QString& text, int points, bool secondary, Qt::TextElideMode mode = Qt::ElideRight)
{
    auto* shown = new ElidedLabel(text, mode);
    QFont font = shown->font();
    font.setPointSize(points);
    shown->setFont(font);
    if (secondary)
        shown->setForegroundRole(QPalette::PlaceholderText);
    return shown;
}

} // namespace

CleanupPreviewView::CleanupPreviewView(IntakeSettingsModel& model, StorageCleanupPlan plan, QWidget* parent)
    : QDialog(parent), model_(model), plan_(std::move(plan))
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(SettingsWidgets::text(MessageKey::cleanupPreviewTitle));
    setFixedWidth(500);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(18);

    QLabel* title = label(SettingsWidgets::text(MessageKey::cleanupPreviewTitle), 18, false, false);
    QFont titleFont = title->font();
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    column->addWidget(title);
    summary_ = label(QString(), 13, true);
    column->addWidget(summary_);
    stagingSummary_ = label(QString(), 13, true);
    column->addWidget(stagingSummary_);

    auto* list = new QWidget;
    auto* rows = new QVBoxLayout(list);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    QPointer<IntakeSettingsModel> weakModel(&model_);
    int rowHeight = 0;
    int rowCount = 0;
    const auto addRow = [&](QWidget* row) {
        rows->addWidget(row);
        rows->addWidget(divider());
        rowHeight = std::max(rowHeight, row->sizeHint().height() + 1);
        ++rowCount;
    };
    for (const CleanupTarget& target : plan_.targets) {
        auto* row = new QWidget;
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 8, 0, 8);
        layout->setSpacing(12);
        auto* check = new QCheckBox;
        check->setAccessibleName(SettingsWidgets::text(MessageKey::cleanupConfirm));
        const QString path = target.relativePath;
        connect(check, &QCheckBox::clicked, this, [this, path](bool on) {
            model_.setCleanupPathSelected(path, on);
        });
        checks_.append(check);
        layout->addWidget(check);
        auto* lines = new QVBoxLayout;
        lines->setSpacing(2);
        const bool staging = target.kind == CleanupTarget::Kind::unownedStaging;
        lines->addWidget(oneLine(
            target.kind == CleanupTarget::Kind::material ? target.title : SettingsWidgets::text(kindLabel(target.kind)),
            13, false));
        // A staging file is named by its file name, unfinished work and a
        // finished edit's files by the material they were made for.
        if (target.kind != CleanupTarget::Kind::material && target.kind != CleanupTarget::Kind::temporaryExport
            && !target.title.isEmpty())
            lines->addWidget(oneLine(target.title, 11, true, staging ? Qt::ElideMiddle : Qt::ElideRight));
        layout->addLayout(lines, 1);
        layout->addSpacing(16);
        layout->addWidget(label(formatByteCount(target.byteCount), 13, true, false));
        if (staging) {
            auto* exportButton = new ActionButton(SettingsWidgets::text(MessageKey::stagingExport), [weakModel, target] {
                if (weakModel)
                    weakModel->chooseStagingExport(target);
            });
            exports_.append(exportButton);
            layout->addWidget(exportButton);
        }
        addRow(row);
    }
    for (const StagingRecoveryItem& item : plan_.stagingInventory) {
        if (item.disposition == StagingRecoveryItem::Disposition::unowned)
            continue; // Already listed as a target.
        auto* row = new QWidget;
        auto* lines = new QVBoxLayout(row);
        lines->setContentsMargins(0, 8, 0, 8);
        lines->setSpacing(2);
        lines->addWidget(oneLine(SettingsWidgets::text(item.disposition == StagingRecoveryItem::Disposition::referenced
                                                           ? MessageKey::stagingReferenced
                                                           : MessageKey::stagingInspect),
            13, false));
        QLabel* path = oneLine(item.relativePath, 12, true, Qt::ElideMiddle);
        path->setTextInteractionFlags(Qt::TextSelectableByMouse);
        lines->addWidget(path);
        addRow(row);
    }
    rows->addStretch();
    list_ = new QScrollArea;
    list_->setWidgetResizable(true);
    list_->setFrameShape(QFrame::NoFrame);
    // Rows cut their texts to the width; they never scroll sideways.
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setWidget(list);
    // Up to five rows in view at once; more scroll.
    rowHeight_ = std::max(rowHeight, fontMetrics().height());
    listHeight_ = std::clamp(rowCount, 1, visibleRows) * rowHeight_;
    list_->setFixedHeight(listHeight_);
    column->addWidget(list_);

    message_ = label(QString(), 12);
    column->addWidget(message_);
    column->addWidget(label(SettingsWidgets::text(MessageKey::stagingHelp), 12, true));
    column->addWidget(label(SettingsWidgets::text(MessageKey::cleanupTrashHelp), 12, true));

    auto* buttons = new QHBoxLayout;
    spinner_ = spinner();
    buttons->addWidget(spinner_);
    buttons->addStretch();
    cancel_ = new ActionButton(SettingsWidgets::text(MessageKey::cancel), [this] { reject(); });
    buttons->addWidget(cancel_);
    confirm_ = new ActionButton(QString(), [weakModel] {
        if (weakModel)
            launchTask(weakModel->confirmCleanup(), nullptr);
    });
    // Return presses the default button, and only while it is enabled.
    confirm_->setDefault(true);
    buttons->addWidget(confirm_);
    column->addLayout(buttons);

    sync();
}

void CleanupPreviewView::sync()
{
    const bool busy = model_.cleanupBusy();
    const StorageCleanupPlan selected = model_.selectedCleanupPlan().value_or(plan_);
    summary_->setText(MessageFormat::format(SettingsWidgets::text(MessageKey::cleanupSummary),
        {selected.materialCount(), selected.exportCount(), selected.completedEditCount(),
            formatByteCount(selected.byteCount())}));
    stagingSummary_->setText(
        MessageFormat::format(SettingsWidgets::text(MessageKey::stagingSummary), {selected.stagingCount()}));
    // A material whose unfinished drafts stay is not the user's to tick:
    // it shows what would happen and keeps its place in the selection, so
    // ticking the drafts brings it back as it was.
    const QSet<QUuid> waiting = plan_.materialsWaitingForDrafts(model_.selectedCleanupPaths());
    for (int index = 0; index < checks_.size(); ++index) {
        const CleanupTarget& target = plan_.targets[index];
        const bool waits = target.kind == CleanupTarget::Kind::material && target.materialID
            && waiting.contains(*target.materialID);
        checks_[index]->setChecked(!waits && model_.selectedCleanupPaths().contains(target.relativePath));
        checks_[index]->setEnabled(!busy && !waits);
    }
    for (QPushButton* button : exports_)
        button->setEnabled(!busy);
    const auto& message = model_.cleanupMessage();
    message_->setVisible(message.has_value());
    if (message) {
        message_->setText(*message);
        QPalette palette = message_->palette();
        palette.setColor(QPalette::WindowText,
            model_.cleanupFailed() ? QColor(Qt::red) : this->palette().color(QPalette::PlaceholderText));
        message_->setPalette(palette);
    }
    spinner_->setVisible(busy);
    cancel_->setEnabled(!busy);
    confirm_->setText(SettingsWidgets::text(busy ? MessageKey::cleanupWorking : MessageKey::cleanupConfirm));
    confirm_->setEnabled(!busy && !selected.targets.isEmpty());
    fitHeight();
}

void CleanupPreviewView::fitHeight()
{
    // A dialog sizes itself by its texts' one-line heights; the wrapped ones
    // need the height they take at the dialog's width, and the list gives
    // way (down to two rows) where the screen is too short for all of it.
    list_->setFixedHeight(listHeight_);
    const auto needed = [this] {
        layout()->activate();
        return layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width()) : layout()->totalSizeHint().height();
    };
    int height = needed();
    if (const QScreen* shownOn = screen()) {
        const int room = shownOn->availableGeometry().height() - titleBarRoom;
        if (height > room) {
            list_->setFixedHeight(std::max(listHeight_ - (height - room), std::min(listHeight_, 2 * rowHeight_)));
            height = needed();
        }
    }
    setFixedHeight(height);
}

void CleanupPreviewView::dismiss()
{
    QDialog::done(QDialog::Rejected);
}

void CleanupPreviewView::reject()
{
    // The model decides: while a cleanup runs the sheet stays, and when it
    // goes the settings view closes it through dismiss().
    model_.cancelCleanup();
}

} // namespace tolvex
