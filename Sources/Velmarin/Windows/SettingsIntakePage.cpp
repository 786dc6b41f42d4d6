#include "Velmarin/Windows/SettingsIntakePage.h"

#include "Velmarin/Actions/ActionButton.h"
#include "Velmarin/Common/ThemeIcon.h"
#include "Velmarin/Intake/CaptureFolderCoordinator.h"
#include "Velmarin/Platform/HotKey.h"
#include "Velmarin/Presentation/PanelAppearance.h"
#include "Velmarin/Windows/IntakeSettingsModel.h"
#include "Velmarin/Windows/SettingsSwitch.h"
#include "Velmarin/Windows/SettingsWidgets.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

namespace tolvex {

using namespace SettingsWidgets;

namespace {

QLabel* strong(MessageKey key, int points, QFont::Weight weight = QFont::DemiBold)
{
    QLabel* shown = label(SettingsWidgets::text(key), points);
    QFont font = shown->font();
    font.setWeight(weight);
    shown->setFont(font);
    return shown;
}

// A checked push button of the desktop's style differs from an unchecked
// one by a faint shade: on is filled like a switch's track, with paper for
// its text, and off keeps the card's colour inside the switch's outline.
QPushButton* kindToggle(MessageKey key, const QPalette& palette)
{
    auto* toggle = new QPushButton(SettingsWidgets::text(key));
    toggle->setCheckable(true);
    toggle->setAutoDefault(false);
    const QColor on = SettingsSwitch::trackColour(true, palette);
    QColor onDisabled = on;
    onDisabled.setAlphaF(0.45f);
    toggle->setStyleSheet(
        QStringLiteral("QPushButton { background: palette(base); color: palette(text); border: 1px solid %1;"
                       " border-radius: 6px; padding: 3px 12px; }"
                       "QPushButton:checked { background: %2; border-color: %2; color: %3; }"
                       "QPushButton:focus { border: 2px solid palette(highlight); padding: 2px 11px; }"
                       "QPushButton:disabled { color: palette(mid); }"
                       "QPushButton:checked:disabled { background: %4; border-color: %4; color: %3; }")
            .arg(SettingsSwitch::outlineColour(palette).name(), on.name(), PanelAppearance::paper(palette).name(),
                onDisabled.name(QColor::HexArgb)));
    return toggle;
}

} // namespace

SettingsIntakePage::SettingsIntakePage(IntakeSettingsModel& model, HotKey* hotKey, int spacing, QWidget* parent)
    : QWidget(parent), model_(model), hotKey_(hotKey)
{
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(28, 28, 28, 28);
    page->setSpacing(spacing);

    if (hotKey_) {
        auto* shortcut = new QWidget;
        auto* column = new QVBoxLayout(shortcut);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(10);
        column->addWidget(strong(MessageKey::shortcutTitle, 14));
        shortcutStatus_ = label(QString(), 12);
        column->addWidget(shortcutStatus_);
        shortcutRetry_ = new ActionButton(SettingsWidgets::text(MessageKey::shortcutRetry), [hotKey] { hotKey->retry(); });
        column->addWidget(shortcutRetry_, 0, Qt::AlignLeft);
        page->addWidget(shortcut);
        hotKeySubscription_ = hotKey_->status.subscribe([this](HotKey::Status) { syncShortcut(); });
    }

    // Manual input: what a paste or a drop on the rope does.
    auto* manual = new QWidget;
    auto* manualRow = new QHBoxLayout(manual);
    manualRow->setContentsMargins(0, 0, 0, 0);
    manualRow->setSpacing(16);
    auto* tile = new QLabel;
    tile->setFixedSize(42, 42);
    tile->setAlignment(Qt::AlignCenter);
    const QColor forest = PanelAppearance::forest(palette());
    tile->setStyleSheet(QStringLiteral("background: rgba(%1, %2, %3, 26); border-radius: 10px;")
                            .arg(forest.red())
                            .arg(forest.green())
                            .arg(forest.blue()));
    tile->setPixmap(themeIcon(QStringLiteral("edit-copy")).pixmap(19, 19));
    manualRow->addWidget(tile, 0, Qt::AlignTop);
    auto* manualText = new QVBoxLayout;
    manualText->setSpacing(7);
    manualText->addWidget(strong(MessageKey::manualInputTitle, 14));
    manualText->addWidget(label(SettingsWidgets::text(MessageKey::manualInputHelp), 13, true));
    manualRow->addLayout(manualText, 1);
    page->addWidget(manual);
    page->addWidget(divider());

    // Automatic clipboard intake.
    auto* automatic = new QVBoxLayout;
    automatic->setSpacing(12);
    automatic->addWidget(heading(MessageKey::automaticInputTitle, QStringLiteral("edit-paste")));
    QFrame* automaticCard = card(true);
    automaticCard_ = automaticCard;
    auto* automaticRows = new QVBoxLayout(automaticCard);
    automaticRows->setContentsMargins(0, 0, 0, 0);
    automaticRows->setSpacing(0);
    automaticRows->addWidget(switchRow(MessageKey::automaticInputEnabled, &enabled_));
    automaticRows->addWidget(divider());
    auto* kinds = new QWidget;
    auto* kindsRow = new QHBoxLayout(kinds);
    kindsRow->setContentsMargins(16, 16, 16, 16);
    kindsRow->addWidget(label(SettingsWidgets::text(MessageKey::settingsTypes), 13, true, false));
    kindsRow->addStretch();
    images_ = kindToggle(MessageKey::inputImages, palette());
    text_ = kindToggle(MessageKey::inputText, palette());
    files_ = kindToggle(MessageKey::inputFiles, palette());
    for (QPushButton* toggle : {images_, text_, files_}) {
        kindsRow->addSpacing(8);
        kindsRow->addWidget(toggle);
    }
    automaticRows->addWidget(kinds);
    automaticRows->addWidget(divider());
    automaticRows->addWidget(switchRow(MessageKey::inputExisting, &existing_));
    automatic->addWidget(automaticCard);
    clipboardStatus_ = label(QString(), 12, true);
    automatic->addWidget(clipboardStatus_);
    QLabel* typeHelp = label(SettingsWidgets::text(MessageKey::settingsTypeHelp), 12, true);
    typeHelp->setContentsMargins(3, 0, 3, 0);
    automatic->addWidget(typeHelp);
    page->addLayout(automatic);

    // `clicked` comes from the user only; sync() moves the controls silently.
    const auto bind = [this](QAbstractButton* control, bool ClipboardPreference::*field) {
        connect(control, &QAbstractButton::clicked, this, [this, field](bool value) {
            model_.writePreference(field, value);
            sync();
        });
    };
    bind(enabled_, &ClipboardPreference::enabled);
    bind(images_, &ClipboardPreference::images);
    bind(text_, &ClipboardPreference::text);
    bind(files_, &ClipboardPreference::files);
    bind(existing_, &ClipboardPreference::includeExisting);

    // The capture folder.
    auto* captureSection = new QVBoxLayout;
    captureSection->setSpacing(12);
    captureSection->addWidget(heading(MessageKey::captureSettingsTitle, QStringLiteral("folder")));
    QFrame* captureCard = card(true);
    auto* captureRows = new QVBoxLayout(captureCard);
    captureRows->setContentsMargins(0, 0, 0, 0);
    captureRows->setSpacing(0);
    captureRows->addWidget(switchRow(MessageKey::captureSettingsEnabled, &capture_));
    // Every write toggles once, whatever it writes: the coordinator owns the state.
    connect(capture_, &QAbstractButton::clicked, this, [this](bool) {
        model_.toggleCapture();
        sync();
    });
    captureRows->addWidget(divider());
    auto* folder = new QWidget;
    auto* folderRow = new QHBoxLayout(folder);
    folderRow->setContentsMargins(16, 16, 16, 16);
    folderRow->setSpacing(12);
    auto* folderIcon = new QLabel;
    folderIcon->setPixmap(themeIcon(QStringLiteral("folder")).pixmap(22, 22));
    folderRow->addWidget(folderIcon);
    auto* folderText = new QVBoxLayout;
    folderText->setSpacing(5);
    folderName_ = label(QString(), 13, false, false);
    QFont nameFont = folderName_->font();
    nameFont.setWeight(QFont::Medium);
    folderName_->setFont(nameFont);
    folderPath_ = label(QString(), 12, true);
    folderPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    folderText->addWidget(folderName_);
    folderText->addWidget(folderPath_);
    folderRow->addLayout(folderText, 1);
    QPointer<SettingsIntakePage> self(this);
    folderRow->addWidget(new ActionButton(SettingsWidgets::text(MessageKey::chooseCaptureFolder), [self] {
        if (!self)
            return;
        self->model_.capture().chooseFolder();
        if (self)
            self->model_.refresh();
    }));
    captureRows->addWidget(folder);
    captureSection->addWidget(captureCard);
    captureStatus_ = label(QString(), 12, true);
    captureSection->addWidget(captureStatus_);
    captureSection->addWidget(label(SettingsWidgets::text(MessageKey::captureSettingsHelp), 12, true));
    page->addLayout(captureSection);
    page->addStretch();

    sync();
}

void SettingsIntakePage::syncShortcut()
{
    if (!hotKey_)
        return;
    const HotKey::Status status = hotKey_->status();
    const bool registered = status == HotKey::Status::registered;
    shortcutStatus_->setText(SettingsWidgets::text(HotKey::messageKey(status)));
    shortcutStatus_->setForegroundRole(registered ? QPalette::PlaceholderText : QPalette::WindowText);
    shortcutRetry_->setVisible(!registered);
}

void SettingsIntakePage::sync()
{
    const ClipboardPreference& preferences = model_.preferences();
    enabled_->setChecked(preferences.enabled);
    images_->setChecked(preferences.images);
    text_->setChecked(preferences.text);
    files_->setChecked(preferences.files);
    existing_->setChecked(preferences.includeExisting);
    automaticCard_->setEnabled(!model_.saving());
    clipboardStatus_->setText(model_.clipboardStatus());

    capture_->setChecked(model_.captureEnabled());
    const QString noFolder = SettingsWidgets::text(MessageKey::captureNoFolder);
    const bool hasFolder = model_.capturePath() != noFolder;
    folderName_->setText(hasFolder ? QFileInfo(model_.capturePath()).fileName() : noFolder);
    folderPath_->setText(model_.capturePath());
    folderPath_->setVisible(hasFolder);
    captureStatus_->setText(
        (model_.captureEnabled() ? QStringLiteral("\u25CF ") : QStringLiteral("\u2016 ")) + model_.captureStatus());
}

} // namespace tolvex
