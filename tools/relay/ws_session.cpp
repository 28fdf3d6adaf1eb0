#include "relay/ws_session.h"

#include "relay/relay_log.h"

#include <boost/json.hpp>

#include <QByteArrayView>

namespace orvane {
namespace {

namespace beast = boost::beast;
using Role = ChannelStore::Role;

std::string errorFrame(std::string_view message)
{
    return boost::json::serialize(boost::json::object{{"type", "error"}, {"message", message}});
}

boost::json::object objectOf(const std::string &text)
{
    boost::system::error_code error;
    boost::json::value value = boost::json::parse(text, error);
    return !error && value.is_object() ? std::move(value.as_object()) : boost::json::object();
}

std::string stringMember(const boost::json::object &object, std::string_view key)
{
    const boost::json::value *value = object.if_contains(key);
    return value && value->is_string() ? std::string(value->as_string()) : std::string();
}

// The channel id of "/v1/channels/{id}/connect", or nothing for any other path.
std::string channelOfPath(std::string_view target)
{
    const std::string_view prefix = "/v1/channels/", suffix = "/connect";
    const std::string_view path = target.substr(0, target.find('?'));
    if (!path.starts_with(prefix) || !path.ends_with(suffix) || path.size() <= prefix.size() + suffix.size())
        return {};
    const std::string_view id = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    return id.find('/') == std::string_view::npos ? std::string(id) : std::string();
}

const char *roleName(Role role)
{
    return role == Role::publisher ? "publisher" : "subscriber";
}

} // namespace

WsSession::WsSession(beast::tcp_stream stream, RelayContext &relay, ConnectionGate::Ticket ticket,
                     std::string clientAddress)
    : socket_(std::move(stream)), relay_(relay), ticket_(std::move(ticket)), clientAddress_(std::move(clientAddress)),
      authenticationDeadline_(socket_.get_executor())
{
}

WsSession::~WsSession()
{
    relay_.hub.leave(*this);
}

void WsSession::start(HttpRequest request)
{
    beast::get_lowest_layer(socket_).expires_never();
    // Pings a silent peer and drops one that does not answer, so dead sockets do not pile up.
    socket_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    websocket::permessage_deflate deflate;
    deflate.server_enable = true;
    deflate.msg_size_threshold = 1024; // the protocol's own short frames gain nothing
    deflate.compLevel = 3;
    socket_.set_option(deflate);
    // A little above the protocol's limit, so a message just over it is answered, not fatal;
    // beyond this the socket is closed rather than buffered for.
    socket_.read_message_max(messageLimit + 64 * 1024);
    socket_.auto_fragment(false);
    // A small kernel buffer makes a slow reader show in our queue, where it is counted.
    beast::get_lowest_layer(socket_).socket().set_option(boost::asio::socket_base::send_buffer_size(128 * 1024));
    const std::string channelId = channelOfPath(request.target());
    socket_.async_accept(request, [self = shared_from_this(), channelId](beast::error_code error) {
        if (!error)
            self->accepted(channelId);
    });
}

void WsSession::accepted(const std::string &channelId)
{
    if (channelId.empty() || !relay_.channels.exists(channelId)) {
        relayLog("socket refused from " + clientAddress_ + ": no such channel");
        closeWhenSent(websocket::close_code::policy_error);
        readNext();
        return;
    }
    channelId_ = channelId;
    authenticationDeadline_.expires_after(relay_.authenticationTimeout);
    authenticationDeadline_.async_wait([weak = weak_from_this()](beast::error_code error) {
        if (const auto self = weak.lock(); self && !error && !self->role_)
            self->refuse("Authenticate first.");
    });
    readNext();
}

void WsSession::readNext()
{
    socket_.async_read(incoming_, [self = shared_from_this()](beast::error_code error, std::size_t) {
        if (error) {
            self->finish();
            return;
        }
        std::string text = beast::buffers_to_string(self->incoming_.data());
        self->incoming_.consume(self->incoming_.size());
        self->incoming_.shrink_to_fit(); // an idle socket keeps no snapshot-sized buffer
        if (!self->socket_.got_binary() || QByteArrayView(text).isValidUtf8())
            self->received(text);
        self->readNext();
    });
}

void WsSession::received(const std::string &text)
{
    if (closeAfterSending_ || finished_)
        return;
    if (text.size() > messageLimit) {
        send(makeFrame(errorFrame("The message is larger than 262,144 bytes.")));
        return;
    }
    if (!role_) {
        authenticate(text);
        return;
    }
    const std::string type = stringMember(objectOf(text), "type");
    if (*role_ == Role::publisher)
        relay_.hub.fromPublisher(channelId_, type, makeFrame(text, type == "snapshot"));
    else
        relay_.hub.fromSubscriber(channelId_, type, makeFrame(text));
}

void WsSession::authenticate(const std::string &text)
{
    const boost::json::object message = objectOf(text);
    if (stringMember(message, "type") != "authenticate") {
        refuse("Authenticate first.");
        return;
    }
    const std::string roleText = stringMember(message, "role");
    std::optional<Role> role;
    if (roleText == "publisher")
        role = Role::publisher;
    else if (roleText == "subscriber")
        role = Role::subscriber;
    if (!role || !relay_.channels.authenticate(channelId_, *role, stringMember(message, "token"))) {
        refuse("The token is not valid for this channel.");
        return;
    }
    if (!relay_.hub.hasRoom(channelId_, *role)) {
        refuse("This channel has as many subscribers as it may have.");
        return;
    }
    authenticationDeadline_.cancel();
    send(makeFrame(R"({"type":"authenticated"})"));
    role_ = role;
    relay_.hub.join(channelId_, *role, *this);
    relayLog(std::string("socket authenticated as ") + roleName(*role) + " of channel " + shortId(channelId_) +
             " from " + clientAddress_);
}

void WsSession::refuse(std::string_view message)
{
    relayLog("socket refused on channel " + shortId(channelId_) + " from " + clientAddress_ + ": " + std::string(message));
    send(makeFrame(errorFrame(message)));
    closeWhenSent(websocket::close_code::policy_error);
}

void WsSession::deliver(const Frame &frame)
{
    if (closeAfterSending_ || finished_)
        return;
    send(frame);
    const bool behind = outgoingSnapshots_ > relay_.limits.snapshotsBehind + 1 ||
                        outgoingBytes_ > (relay_.limits.snapshotsBehind + 2) * messageLimit;
    if (behind)
        drop("it fell behind");
}

void WsSession::endChannel(Role role)
{
    if (role == Role::publisher)
        send(makeFrame(R"({"type":"revoked"})"));
    relay_.hub.leave(*this);
    role_.reset();
    closeWhenSent(websocket::close_code::normal);
}

void WsSession::send(const Frame &frame)
{
    outgoing_.push_back(frame);
    outgoingBytes_ += frame.text->size();
    outgoingSnapshots_ += frame.snapshot ? 1 : 0;
    writeNext();
}

void WsSession::writeNext()
{
    if (writing_ || finished_)
        return;
    if (outgoing_.empty()) {
        if (closeAfterSending_) {
            writing_ = true;
            socket_.async_close(*closeAfterSending_, [self = shared_from_this()](beast::error_code) {
                self->writing_ = false;
                self->finish();
            });
        }
        return;
    }
    writing_ = true;
    socket_.text(true);
    const Frame &frame = outgoing_.front();
    socket_.async_write(boost::asio::buffer(*frame.text), [self = shared_from_this()](beast::error_code error, std::size_t) {
        self->writing_ = false;
        const Frame sent = std::move(self->outgoing_.front());
        self->outgoing_.pop_front();
        self->outgoingBytes_ -= sent.text->size();
        self->outgoingSnapshots_ -= sent.snapshot ? 1 : 0;
        if (error)
            self->finish();
        else
            self->writeNext();
    });
}

void WsSession::closeWhenSent(websocket::close_code code)
{
    if (!closeAfterSending_)
        closeAfterSending_ = code;
    writeNext();
}

void WsSession::drop(std::string_view why)
{
    relayLog(std::string("socket dropped ") + (role_ ? roleName(*role_) : "") + " of channel " + shortId(channelId_) +
             " from " + clientAddress_ + ": " + std::string(why));
    finish();
}

void WsSession::finish()
{
    if (finished_)
        return;
    finished_ = true;
    relay_.hub.leave(*this);
    authenticationDeadline_.cancel();
    beast::error_code ignored;
    beast::get_lowest_layer(socket_).socket().shutdown(boost::asio::socket_base::shutdown_both, ignored);
    beast::get_lowest_layer(socket_).close();
}

} // namespace orvane
