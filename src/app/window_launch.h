#pragma once

#include <string>

// The window's libraries (Qt Widgets, Qt Gui and what they load) would cost a headless companion
// a fifth of its memory, so the window lives in a program of its own, `orvane-window`, which
// `orvane` hands its process over to once it has decided on a window.
namespace orvane::WindowLaunch {

// Whether a display server is there to show a window on (DISPLAY or WAYLAND_DISPLAY is set).
bool displayAvailable();

// Replaces this process with the window program (beside this program in a build, in its own
// folder of libexec once installed), given the same arguments. Returns only when that fails,
// with the reason.
std::string handOver(char **argv);

} // namespace orvane::WindowLaunch
