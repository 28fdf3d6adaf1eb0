#pragma once

#include "ui/main_view.h"
#include "ui/menu_content.h"

#include <memory>

namespace orvane {

class CompanionModel;

// The desktop face of the one model: the panel item where the desktop has a tray, and the window.
// Without any tray the window is the only way back in, so closing it quits.
class CompanionShell
{
public:
    explicit CompanionShell(CompanionModel &model);

    // Shows the window, or with `hidden` starts the companion behind the tray item alone. Where
    // there is no tray, hiding would leave nothing to reach it by, so the window shows anyway.
    void start(bool hidden);
    void showWindow() { window_.showAndRaise(); }

private:
    CompanionModel &model_;
    MainView window_;
    std::unique_ptr<MenuContent> menu_;
};

} // namespace orvane
