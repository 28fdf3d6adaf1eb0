#include "app/window_launch.h"

#include <QtGlobal>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include <unistd.h>

namespace orvane::WindowLaunch {

bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

namespace {

std::optional<std::string> windowProgram()
{
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return std::nullopt;
    for (const auto &candidate : {self.parent_path() / "orvane-window",
                                  self.parent_path() / ORVANE_LIBEXEC_FROM_BINDIR / "orvane-window"}) {
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate.lexically_normal().string();
    }
    return std::nullopt;
}

} // namespace

std::string handOver(char **argv)
{
    const auto program = windowProgram();
    if (!program)
        return "the window program orvane-window is not installed beside orvane";
    ::execv(program->c_str(), argv);
    return "the window program " + *program + " could not be started: " + std::strerror(errno);
}

} // namespace orvane::WindowLaunch
