#include "appserver/daemon_socket.h"

#include <cstdlib>

#include <sys/stat.h>

namespace orvane::DaemonSocket {

std::optional<std::string> path()
{
    std::string home;
    if (const char *codexHome = std::getenv("CODEX_HOME"); codexHome && *codexHome)
        home = codexHome;
    else if (const char *userHome = std::getenv("HOME"); userHome && *userHome)
        home = std::string(userHome) + "/.codex";
    else
        return std::nullopt;
    return home + "/app-server-control/app-server-control.sock";
}

bool mayRun()
{
    const auto socket = path();
    struct stat status {};
    return socket && ::stat(socket->c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

} // namespace orvane::DaemonSocket
