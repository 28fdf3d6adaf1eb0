#pragma once

#include "relay/connection_gate.h"
#include "relay/relay_context.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <memory>
#include <optional>

namespace orvane {

// One HTTP connection, read by a parser with caps on header and body size and a deadline for
// each whole request; between requests a kept-alive connection may idle only so long. An
// upgrade on it becomes a WsSession.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(boost::asio::ip::tcp::socket socket, RelayContext &relay, ConnectionGate::Ticket ticket);
    void start();

private:
    void awaitNextRequest();
    void readRequest();
    void requestRead(boost::beast::error_code error);
    void answer(HttpResponse response, bool keepAlive);
    void close();

    boost::beast::tcp_stream stream_;
    RelayContext &relay_;
    ConnectionGate::Ticket ticket_;
    IpAddress peer_;
    boost::beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    HttpResponse response_;
};

} // namespace orvane
