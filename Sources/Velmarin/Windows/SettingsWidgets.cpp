#include "Velmarin/Windows/SettingsWidgets.h"

#include "Velmarin/Common/ThemeIcon.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Windows/SettingsSwitch.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>

namespace tolvex::SettingsWidgets {

QString text(MessageKey key)
{
    return appLocalizer().string(key);
}

QLabel* label(const QString& text, int points, bool secondary, bool wraps)
{
    auto* shown = new QLabel(text);
    QFont font = shown->font();
    font.setPointSize(points);
    shown->setFont(font);
    shown->setWordWrap(wraps);
    if (secondary)
        shown->setForegroundRole(QPalette::PlaceholderText);
    return shown;
}

QWidget* heading(MessageKey key, const QString& symbol)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    const QIcon icon = themeIcon(symbol);
    if (!icon.isNull()) {
        auto* image = new QLabel;
        image->setPixmap(icon.pixmap(14, 14));
        layout->addWidget(image);
    }
    QLabel* title = label(text(key), 13, false, false);
    QFont font = title->font();
    font.setWeight(QFont::DemiBold);
    title->setFont(font);
    layout->addWidget(title);
    layout->addStretch();
    return row;
}

QFrame* card(bool bordered)
{
    auto* frame = new QFrame;
    frame->setObjectName(QStringLiteral("settingsCard"));
    frame->setAttribute(Qt::WA_StyledBackground);
    frame->setStyleSheet(QStringLiteral("QFrame#settingsCard { background: palette(base); border-radius: 12px; %1 }")
                             .arg(bordered ? QStringLiteral("border: 1px solid rgba(128, 128, 128, 40);")
                                           : QStringLiteral("border: none;")));
    return frame;
}

QFrame* divider()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

QWidget* switchRow(MessageKey key, QCheckBox** toggle)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(16, 16, 16, 16);
    // The text takes the room up to the switch: a wrapping label left to
    // its own hint breaks after every second word.
    layout->addWidget(label(text(key), 13), 1);
    layout->addSpacing(16);
    *toggle = new SettingsSwitch;
    // The row's text is the label; the switch carries it for assistive technology.
    (*toggle)->setAccessibleName(text(key));
    layout->addWidget(*toggle);
    return row;
}

QProgressBar* spinner()
{
    auto* busy = new QProgressBar;
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setMaximumWidth(60);
    busy->setMaximumHeight(10);
    return busy;
}

} // namespace tolvex::SettingsWidgets
