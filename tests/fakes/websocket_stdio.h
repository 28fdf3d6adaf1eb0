#pragma once
// The fake App Server's `app-server proxy` mode: the daemon's WebSocket spoken on standard input
// and output, the way the real proxy passes it through. Session keys (fake_app_server.md):
// `handshake` ("accept", "wrongKey", "notUpgraded", "silent"); reply keys `ping` (a ping
// with that payload goes out before the reply) and `close` (a close frame with that code
// follows it).
#include "websocket_server_peer.h"

#include <boost/json/object.hpp>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::test {

class WebSocketStdio {
public:
    using Log = std::function<void(boost::json::object)>;
    using Write = std::function<void(std::string_view)>;

    WebSocketStdio(const boost::json::object &session, Log log, Write write);

    // Bytes read from the client: answers the upgrade, writes what the peer must answer (the
    // 101 head, the session's opening messages, close echoes) and returns whole messages.
    // A client frame a server must reject is logged and ends the process.
    std::vector<std::string> feed(std::string_view bytes);

    // Newline-separated output of the session as frames; bytes after the last line feed become
    // one more message. Nothing once a close went out.
    std::string framed(std::string_view lines, const boost::json::object &reply);

    // Messages written before the upgrade wait for it.
    void holdUntilUpgraded(std::string lines) { m_opening = std::move(lines); }

private:
    WebSocketServerPeer m_peer;
    Log m_log;
    Write m_write;
    std::string m_opening;
    bool m_closeSent = false; // nothing may follow a close frame
};

} // namespace orvane::test
