#pragma once

#include <optional>
#include <string>

// The window's libraries (Qt Widgets, Qt Gui and what they load) would cost a headless companion
// a fifth of its memory, so the window lives in a program of its own, `orvane-window`, which
// `orvane` hands its process over to once it has decided on a window.
namespace orvane::WindowLaunch {

// Whether a display server is there to show a window on (DISPLAY or WAYLAND_DISPLAY is set).
bool displayAvailable();

// Where the window program is: beside this program in a build, in its own folder of libexec
// once installed. Nothing when it is in neither.
std::optional<std::string> windowProgram();

// Replaces this process with the window program, given the same arguments. Returns only when
// that fails, with the reason.
std::string handOver(char **argv);

} // namespace orvane::WindowLaunch
