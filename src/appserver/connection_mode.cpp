#include "appserver/connection_mode.h"

#include "appserver/line_framing.h"
#include "appserver/websocket_framing.h"

namespace orvane {

std::string connectionModeLabel(ConnectionMode mode)
{
    return mode == ConnectionMode::managedDaemonProxy ? "Managed daemon proxy" : "Dedicated stdio";
}

std::unique_ptr<MessageFraming> makeFraming(ConnectionMode mode)
{
    // The proxy is a byte pipe to the daemon's WebSocket; the dedicated child speaks lines.
    if (mode == ConnectionMode::managedDaemonProxy)
        return std::make_unique<WebSocketFraming>();
    return std::make_unique<LineFraming>();
}

}
