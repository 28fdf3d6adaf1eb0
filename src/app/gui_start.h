#pragma once

// The companion on a desktop: the tray item and the window around the one model.
namespace orvane::GuiStart {

// Runs the companion with its window, or with `hidden` behind the tray item alone (the
// autostart entry's way). A companion already running is asked to show its window instead.
// Creates the QApplication; returns the exit status.
int run(int &argc, char **argv, bool hidden);

} // namespace orvane::GuiStart
