#include "Velmarin/Windows/SettingsStoragePage.h"

#include "TolvexCore/Model/DataRoot.h"
#include "Velmarin/Actions/ActionButton.h"
#include "Velmarin/Common/ByteCountFormat.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/ShowInFileManager.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Windows/IntakeSettingsModel.h"
#include "Velmarin/Windows/SettingsWidgets.h"

#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace tolvex {

using namespace SettingsWidgets;

namespace {

QString abbreviatingHome(const QString& path)
{
    const QString home = QDir::homePath();
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + u'/'))
        return QStringLiteral("~") + path.mid(home.size());
    return path;
}

} // namespace

SettingsStoragePage::SettingsStoragePage(IntakeSettingsModel& model, int spacing, QWidget* parent)
    : QWidget(parent), model_(model)
{
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(28, 28, 28, 28);
    page->setSpacing(spacing);
    QPointer<IntakeSettingsModel> weakModel(&model);

    // Library summary.
    auto* summary = new QHBoxLayout;
    summary->setSpacing(16);
    auto* summaryText = new QVBoxLayout;
    summaryText->setSpacing(5);
    QLabel* title = label(SettingsWidgets::text(MessageKey::libraryTitle), 14);
    QFont titleFont = title->font();
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    summaryText->addWidget(title);
    total_ = label(QString(), 25, false, false);
    QFont totalFont = total_->font();
    totalFont.setWeight(QFont::Medium);
    total_->setFont(totalFont);
    summaryText->addWidget(total_);
    summary->addLayout(summaryText, 1);
    page->addLayout(summary);

    // Location.
    auto* location = new QVBoxLayout;
    location->setSpacing(12);
    location->addWidget(heading(MessageKey::libraryLocation, QStringLiteral("folder")));
    QFrame* locationCard = card(false);
    auto* locationRows = new QVBoxLayout(locationCard);
    locationRows->setContentsMargins(18, 18, 18, 18);
    locationRows->setSpacing(14);
    QLabel* path = label(abbreviatingHome(model.libraryURL().toLocalFile()), 13);
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    locationRows->addWidget(path);
    const QUrl library = model.libraryURL();
    const auto reveal = [library, weakModel] {
        // Registered with the line, so that a cover ends the failure alert.
        const QPointer<Line> line = weakModel ? weakModel->privacyLine : nullptr;
        const auto run = [line](Alert& alert) { return line ? line->runAlert(alert) : alert.run(); };
        launchTask(ShowInFileManager::show(library, run), {});
    };
    locationRows->addWidget(
        new ActionButton(SettingsWidgets::text(MessageKey::libraryReveal), reveal), 0, Qt::AlignLeft);
    location->addWidget(locationCard);
    page->addLayout(location);

    // Usage: the card, the failure with its retry, or a spinner.
    auto* usageSection = new QVBoxLayout;
    usageSection->setSpacing(12);
    usageSection->addWidget(heading(MessageKey::libraryUsage, QStringLiteral("drive-harddisk")));
    usage_ = new QStackedWidget;
    QFrame* usageCard = card(false);
    usageCard_ = usageCard;
    auto* usageRows = new QVBoxLayout(usageCard);
    usageRows->setContentsMargins(0, 0, 0, 0);
    usageRows->setSpacing(0);
    const MessageKey rowKeys[3]{MessageKey::libraryMaterials, MessageKey::libraryExports, MessageKey::libraryDrafts};
    for (int row = 0; row < 3; ++row) {
        if (row > 0)
            usageRows->addWidget(divider());
        auto* line = new QWidget;
        auto* layout = new QHBoxLayout(line);
        layout->setContentsMargins(16, 16, 16, 16);
        layout->addWidget(label(SettingsWidgets::text(rowKeys[row]), 13, false, false));
        layout->addStretch();
        usageValues_[row] = label(QString(), 13, true, false);
        layout->addWidget(usageValues_[row]);
        usageRows->addWidget(line);
    }
    usage_->addWidget(usageCard);
    usageFailure_ = new QWidget;
    auto* failure = new QVBoxLayout(usageFailure_);
    failure->setContentsMargins(0, 0, 0, 0);
    failure->addWidget(label(SettingsWidgets::text(MessageKey::libraryUnavailable), 13, true));
    failure->addWidget(new ActionButton(SettingsWidgets::text(MessageKey::settingsRetry),
                           [weakModel] {
                               if (weakModel)
                                   launchTask(weakModel->refreshUsage(), nullptr);
                           }),
        0, Qt::AlignLeft);
    usage_->addWidget(usageFailure_);
    usageSpinner_ = new QWidget;
    auto* spinning = new QHBoxLayout(usageSpinner_);
    spinning->setContentsMargins(0, 0, 0, 0);
    spinning->addWidget(spinner());
    spinning->addStretch();
    usage_->addWidget(usageSpinner_);
    usageSection->addWidget(usage_);
    usageSection->addWidget(label(SettingsWidgets::text(MessageKey::libraryHelp), 12, true));
    page->addLayout(usageSection);

    // Cleanup.
    auto* cleanup = new QVBoxLayout;
    cleanup->setSpacing(12);
    cleanup->addWidget(heading(MessageKey::cleanupTitle, QStringLiteral("user-trash")));
    cleanup->addWidget(label(SettingsWidgets::text(MessageKey::cleanupHelp), 12, true));
    auto* previewRow = new QHBoxLayout;
    previewRow->setSpacing(12);
    preview_ = new ActionButton(QString(), [weakModel] {
        if (weakModel)
            launchTask(weakModel->previewCleanup(), nullptr);
    });
    previewRow->addWidget(preview_);
    previewSpinner_ = spinner();
    previewRow->addWidget(previewSpinner_);
    previewRow->addStretch();
    cleanup->addLayout(previewRow);
    message_ = label(QString(), 12);
    cleanup->addWidget(message_);
    page->addLayout(cleanup);
    page->addStretch();

    sync();
}

bool SettingsStoragePage::showsUsage() const
{
    return usage_->currentWidget() == usageCard_;
}

void SettingsStoragePage::sync()
{
    const auto& usage = model_.usage();
    if (usage) {
        std::int64_t sum = 0;
        for (const std::int64_t bytes : *usage)
            sum += bytes;
        total_->setText(formatByteCount(sum));
        usageValues_[0]->setText(formatByteCount(usage->value(DataRoot::materialsFolder())));
        usageValues_[1]->setText(formatByteCount(usage->value(DataRoot::exportsFolder())));
        usageValues_[2]->setText(formatByteCount(usage->value(DataRoot::draftsFolder())
            + usage->value(DataRoot::transactionsFolder()) + usage->value(DataRoot::cleanupRecordsFolder())));
        usage_->setCurrentWidget(usageCard_);
    } else {
        total_->setText(SettingsWidgets::text(MessageKey::libraryLoading));
        usage_->setCurrentWidget(model_.usageFailed() ? usageFailure_ : usageSpinner_);
    }

    const bool busy = model_.cleanupBusy();
    preview_->setText(SettingsWidgets::text(busy ? MessageKey::cleanupWorking : MessageKey::cleanupPreview));
    preview_->setEnabled(model_.hasCleanupStore() && !busy);
    previewSpinner_->setVisible(busy);
    const auto& message = model_.cleanupMessage();
    message_->setVisible(message.has_value());
    if (message) {
        message_->setText((model_.cleanupFailed() ? QStringLiteral("\u26A0 ") : QStringLiteral("\u2713 ")) + *message);
        QPalette palette = message_->palette();
        palette.setColor(QPalette::WindowText,
            model_.cleanupFailed() ? QColor(Qt::red) : this->palette().color(QPalette::PlaceholderText));
        message_->setPalette(palette);
    }
}

} // namespace tolvex
