#include "ui/companion_shell.h"

#include "companion/companion_model.h"

#include <QApplication>

namespace orvane {

CompanionShell::CompanionShell(CompanionModel &model) : model_(model), window_(model)
{
    const bool tray = QSystemTrayIcon::isSystemTrayAvailable();
    if (tray) {
        menu_ = std::make_unique<MenuContent>(model, [this] { showWindow(); });
        menu_->trayIcon().show();
    }
    window_.setHidesOnClose(tray);
    QApplication::setQuitOnLastWindowClosed(!tray);
}

void CompanionShell::start(bool hidden)
{
    if (hidden && menu_)
        model_.start();
    else
        showWindow();
}

} // namespace orvane
