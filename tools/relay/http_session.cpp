#include "relay/http_session.h"

#include "relay/ws_session.h"

#include <boost/beast/websocket/rfc6455.hpp>

namespace orvane {
namespace {

namespace beast = boost::beast;

// The answer to a request the parser gave up on, or nothing when it is better left unanswered.
std::optional<HttpResponse> refusalFor(const beast::error_code &error)
{
    if (error == http::error::header_limit)
        return messageResponse(http::status::request_header_fields_too_large, "The request headers are too large.");
    if (error == http::error::body_limit)
        return messageResponse(http::status::payload_too_large, "The request body is too large.");
    if (error.category() == http::make_error_code(http::error::bad_target).category())
        return messageResponse(http::status::bad_request, "The request is not valid HTTP.");
    return std::nullopt; // the peer went away or let the deadline pass
}

} // namespace

HttpSession::HttpSession(boost::asio::ip::tcp::socket socket, RelayContext &relay, ConnectionGate::Ticket ticket)
    : stream_(std::move(socket)), relay_(relay), ticket_(std::move(ticket)),
      buffer_(relay.limits.headerBytes + relay.limits.bodyBytes)
{
    beast::error_code ignored;
    peer_ = stream_.socket().remote_endpoint(ignored).address();
}

void HttpSession::start()
{
    readRequest();
}

void HttpSession::awaitNextRequest()
{
    // The wait for a kept-alive connection's next request starts with its first byte, unless
    // that request came pipelined behind the last one.
    if (buffer_.size() > 0)
        return readRequest();
    stream_.expires_after(relay_.limits.keepAliveIdle);
    stream_.async_read_some(buffer_.prepare(1024), [self = shared_from_this()](beast::error_code error, std::size_t size) {
        if (error)
            return self->close();
        self->buffer_.commit(size);
        self->readRequest();
    });
}

void HttpSession::readRequest()
{
    stream_.expires_after(relay_.limits.requestDeadline);
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(relay_.limits.headerBytes));
    parser_->body_limit(relay_.limits.bodyBytes);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, std::size_t) { self->requestRead(error); });
}

void HttpSession::requestRead(beast::error_code error)
{
    if (error) {
        if (auto refusal = refusalFor(error))
            answer(std::move(*refusal), false);
        else
            close();
        return;
    }
    HttpRequest request = parser_->release();
    const IpAddress client = clientAddress(peer_, request["X-Forwarded-For"], relay_.trustedProxies);
    if (websocket::is_upgrade(request)) {
        stream_.expires_never();
        std::make_shared<WsSession>(std::move(stream_), relay_, std::move(ticket_), client.to_string())
            ->start(std::move(request));
        return;
    }
    answer(relay_.routes.handle(request, clientKey(client), client.to_string()), request.keep_alive());
}

void HttpSession::answer(HttpResponse response, bool keepAlive)
{
    response_ = std::move(response);
    response_.keep_alive(keepAlive);
    response_.prepare_payload();
    stream_.expires_after(relay_.limits.requestDeadline);
    http::async_write(stream_, response_, [self = shared_from_this(), keepAlive](beast::error_code error, std::size_t) {
        if (error || !keepAlive)
            return self->close();
        self->awaitNextRequest();
    });
}

void HttpSession::close()
{
    beast::error_code ignored;
    stream_.socket().shutdown(boost::asio::socket_base::shutdown_send, ignored);
    stream_.close();
}

} // namespace orvane
