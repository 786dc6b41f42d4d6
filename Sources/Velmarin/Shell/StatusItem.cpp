#include "Velmarin/Shell/StatusItem.h"

#include "Velmarin/Presentation/ProgramIcon.h"

#include <QPainter>
#include <QPixmap>

namespace tolvex {

StatusItem::StatusItem(std::function<void(QMenu&)> rebuildMenu, QObject* parent)
    : QObject(parent), rebuildMenu_(std::move(rebuildMenu))
{
    connect(&menu_, &QMenu::aboutToShow, this, [this] {
        if (rebuildMenu_)
            rebuildMenu_(menu_);
    });
    // Some trays open the menu only on a right click; a left click shows it too.
    connect(&tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            menu_.popup(tray_.geometry().center());
    });
    tray_.setIcon(baseIcon());
    tray_.setContextMenu(&menu_);
    tray_.setToolTip(QStringLiteral("Tolvex"));
    tray_.show();
}

StatusItem::~StatusItem()
{
    tray_.hide();
}

void StatusItem::setTitle(const QString& title)
{
    if (title == title_)
        return;
    title_ = title;
    tray_.setIcon(title.isEmpty() ? baseIcon() : badged(baseIcon(), title));
}

void StatusItem::setToolTip(const QString& toolTip)
{
    tray_.setToolTip(toolTip);
}

QIcon StatusItem::baseIcon()
{
    // The program's icon, not a theme's paperclip: a pale symbolic clip
    // vanishes on a grey tray, the icon's own tile shows on light and dark.
    return ProgramIcon::icon();
}

QIcon StatusItem::badged(const QIcon& icon, const QString& title)
{
    QPixmap pixmap = icon.pixmap(64, 64);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF badge(30, 0, 34, 34);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xd0, 0x30, 0x20));
    painter.drawEllipse(badge);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(26);
    painter.setFont(font);
    painter.drawText(badge, Qt::AlignCenter, title);
    return QIcon(pixmap);
}

} // namespace tolvex
