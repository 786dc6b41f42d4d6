#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>

namespace tolvex {

// The program's icon in the desktop's tray, with a menu that is rebuilt
// every time it opens. A title ("!") is painted into the icon as a badge,
// since tray icons carry no text.
class StatusItem final : public QObject {
public:
    explicit StatusItem(std::function<void(QMenu&)> rebuildMenu, QObject* parent = nullptr);
    ~StatusItem() override;

    void setTitle(const QString& title);
    void setToolTip(const QString& toolTip);
    QString title() const { return title_; }
    QMenu& menu() { return menu_; }
    QSystemTrayIcon& trayIcon() { return tray_; }

    // The program's icon.
    static QIcon baseIcon();
    static QIcon badged(const QIcon& icon, const QString& title);

private:
    QMenu menu_;
    QSystemTrayIcon tray_;
    QString title_;
    std::function<void(QMenu&)> rebuildMenu_;
};

} // namespace tolvex
