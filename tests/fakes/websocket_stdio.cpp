#include "websocket_stdio.h"

#include <cstdlib>
#include <utility>

namespace orvane::test {
namespace {

WebSocketServerPeer::Answer answerFor(const boost::json::object &session)
{
    const auto *handshake = session.if_contains("handshake");
    // Not a conditional expression: GCC 12 with ASan keeps its literal in a stack temporary.
    std::string_view name = "accept";
    if (handshake && handshake->is_string())
        name = handshake->as_string();
    if (name == "wrongKey")
        return WebSocketServerPeer::Answer::WrongKey;
    if (name == "notUpgraded")
        return WebSocketServerPeer::Answer::NotUpgraded;
    if (name == "silent")
        return WebSocketServerPeer::Answer::Silent;
    return WebSocketServerPeer::Answer::Accept;
}

} // namespace

WebSocketStdio::WebSocketStdio(const boost::json::object &session, Log log, Write write)
    : m_peer(answerFor(session)), m_log(std::move(log)), m_write(std::move(write))
{
}

std::vector<std::string> WebSocketStdio::feed(std::string_view bytes)
{
    const bool wasUpgraded = m_peer.upgraded();
    auto received = m_peer.feed(bytes);
    m_write(received.reply);
    if (!wasUpgraded && m_peer.upgraded()) {
        m_log({{"event", "upgraded"}, {"key", m_peer.requestHeaders().at("sec-websocket-key")}});
        m_write(framed(std::exchange(m_opening, {}), {}));
    }
    for (const auto &payload : received.pongs)
        m_log({{"event", "pong"}, {"payload", payload}});
    if (received.closed)
        m_log({{"event", "close"}});
    if (received.failed) {
        m_log({{"event", "badFrame"}});
        std::_Exit(4);
    }
    return received.messages;
}

std::string WebSocketStdio::framed(std::string_view lines, const boost::json::object &reply)
{
    std::string bytes;
    if (m_closeSent)
        return bytes;
    if (const auto *ping = reply.if_contains("ping"); ping && ping->is_string())
        bytes += m_peer.ping(ping->as_string());
    while (!lines.empty()) {
        const auto end = lines.find('\n');
        bytes += m_peer.text(lines.substr(0, end));
        lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
    }
    if (const auto *code = reply.if_contains("close"); code && code->is_int64()) {
        bytes += m_peer.close(static_cast<std::uint16_t>(code->as_int64()));
        m_closeSent = true;
    }
    return bytes;
}

} // namespace orvane::test
