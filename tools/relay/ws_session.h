#pragma once

#include "relay/channel_hub.h"
#include "relay/connection_gate.h"
#include "relay/relay_context.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace orvane {

namespace websocket = boost::beast::websocket;

// One WebSocket on /v1/channels/{id}/connect. Its first frame must authenticate it within the
// deadline; then it joins the channel hub. What goes out waits in a queue written one frame at
// a time: a reader that falls behind is dropped, never buffered for without end.
// permessage-deflate is offered to clients that ask for it.
class WsSession : public std::enable_shared_from_this<WsSession>, public HubPeer {
public:
    WsSession(boost::beast::tcp_stream stream, RelayContext &relay, ConnectionGate::Ticket ticket,
              std::string clientAddress);
    ~WsSession() override;

    void start(HttpRequest request);
    void deliver(const Frame &frame) override;
    void endChannel(ChannelStore::Role role) override;

private:
    void accepted(const std::string &channelId);
    void readNext();
    void received(const std::string &text);
    void authenticate(const std::string &text);
    void refuse(std::string_view message);
    void send(const Frame &frame);
    void writeNext();
    void closeWhenSent(websocket::close_code code);
    void drop(std::string_view why);
    void finish();

    websocket::stream<boost::beast::tcp_stream> socket_;
    RelayContext &relay_;
    ConnectionGate::Ticket ticket_;
    std::string clientAddress_;
    std::string channelId_;
    std::optional<ChannelStore::Role> role_; // set once authenticated
    boost::beast::flat_buffer incoming_;
    boost::asio::steady_timer authenticationDeadline_;
    std::deque<Frame> outgoing_;
    std::size_t outgoingBytes_ = 0;
    int outgoingSnapshots_ = 0;
    bool writing_ = false;
    std::optional<websocket::close_code> closeAfterSending_;
    bool finished_ = false;
};

} // namespace orvane
