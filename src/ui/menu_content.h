#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>

class QAction;

namespace orvane {

class CompanionModel;

// The panel item "Orvane": glasses while the relay is connected, crossed-out glasses otherwise,
// and a short menu whose first line is what the current thread is doing.
class MenuContent : public QObject
{
    Q_OBJECT

public:
    MenuContent(CompanionModel &model, std::function<void()> openCompanion, QObject *parent = nullptr);

    QSystemTrayIcon &trayIcon() { return tray_; }
    QMenu &menu() { return menu_; }

    static QIcon connectedIcon();
    static QIcon disconnectedIcon();

private:
    void showActivity();
    void showConnection();

    CompanionModel &model_;
    QMenu menu_;
    QAction *activity_;
    QSystemTrayIcon tray_;
};

} // namespace orvane
