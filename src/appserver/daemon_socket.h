#pragma once

#include <optional>
#include <string>

// The managed daemon's control socket, which `codex app-server daemon version` connects to:
// $CODEX_HOME/app-server-control/app-server-control.sock, with ~/.codex when CODEX_HOME is unset.
// Looking for it costs a file-system lookup where the probe command costs a Codex start.
namespace orvane::DaemonSocket {

std::optional<std::string> path();

// Whether a daemon may be running: its socket exists. A daemon that was killed leaves its
// socket behind, so only the probe command can say yes for certain.
bool mayRun();

} // namespace orvane::DaemonSocket
