#include "hostile_relay.h"

#include <boost/json.hpp>

#include <stdexcept>

namespace orvane::test {

struct HostileRelay::Connection {
    QTcpSocket *socket = nullptr;
    QByteArray head;
    std::unique_ptr<WebSocketServerPeer> peer;
};

namespace {

constexpr qint64 streamChunk = 1024 * 1024;
constexpr qint64 streamLimit = 400 * streamChunk;

QByteArray header(const QByteArray &head, const QByteArray &name)
{
    for (const QByteArray &line : head.split('\n'))
        if (line.toLower().startsWith(name.toLower() + ':'))
            return line.mid(name.size() + 1).trimmed();
    return {};
}

} // namespace

HostileRelay::HostileRelay()
{
    if (!server_.listen(QHostAddress::LocalHost))
        throw std::runtime_error("the hostile relay cannot listen");
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
}

HostileRelay::~HostileRelay() = default;

std::size_t HostileRelay::count(std::string_view type) const
{
    std::size_t found = 0;
    for (const auto &message : messages_)
        found += boost::json::parse(message).as_object().at("type") == boost::json::value(type);
    return found;
}

void HostileRelay::accept()
{
    while (QTcpSocket *socket = server_.nextPendingConnection()) {
        auto &connection = *connections_.emplace_back(std::make_unique<Connection>());
        connection.socket = socket;
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, &connection] {
            const QByteArray bytes = connection.socket->readAll();
            if (!connection.peer) {
                connection.head += bytes;
                const auto end = connection.head.indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                if (!connection.head.startsWith("GET ") || !connection.head.contains("/connect ")) {
                    answerHttp(connection, connection.head.left(end));
                    return;
                }
                connection.peer = std::make_unique<WebSocketServerPeer>();
                ++upgrades_;
                socket_ = &connection;
                // The peer answers only the daemon's own request line and host; the key is what counts.
                const QByteArray head = std::exchange(connection.head, {});
                connection.head = "GET / HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                  "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: " +
                                  header(head.left(end), "Sec-WebSocket-Key") + "\r\n\r\n" + head.mid(end + 4);
            }
            const auto received = connection.peer->feed(connection.head.isEmpty() ? bytes.toStdString()
                                                                                 : std::exchange(connection.head, {}).toStdString());
            connection.socket->write(QByteArray::fromStdString(received.reply));
            closeFrameSeen_ = closeFrameSeen_ || received.closed;
            for (const auto &message : received.messages) {
                messages_.push_back(message);
                if (boost::json::parse(message).as_object().at("type") == "authenticate")
                    connection.socket->write(QByteArray::fromStdString(connection.peer->text(R"({"type":"authenticated"})")));
            }
        });
    }
}

void HostileRelay::answerHttp(Connection &connection, const QByteArray &head)
{
    QTcpSocket *socket = connection.socket;
    const QByteArray requestLine = head.left(head.indexOf("\r\n"));
    const bool revoke = requestLine.contains("/revoke ");
    if (revoke)
        revokes_.push_back((requestLine.split(' ').value(1) + ' ' + header(head, "Authorization")).toStdString());
    const Answer answer = revoke ? revokeAnswer : pairingAnswer;
    if (answer == Answer::none) {
        socket->abort();
        return;
    }
    if (answer == Answer::endless) {
        stream(socket, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n[");
        return;
    }
    const QByteArray body = revoke ? QByteArray()
                                   : QByteArray::fromStdString(boost::json::serialize(boost::json::object{
                                         {"channelId", credentials.channelId}, {"publisherToken", credentials.publisherToken}}));
    socket->write((revoke ? "HTTP/1.1 204 No Content\r\n" : "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n")
                  + QByteArray("Content-Length: ") + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

void HostileRelay::send(std::string_view text)
{
    if (socket_)
        socket_->socket->write(QByteArray::fromStdString(socket_->peer->text(text)));
}

void HostileRelay::sendOversizedFrame()
{
    if (socket_)
        stream(socket_->socket, QByteArray::fromStdString(encodeRaw({.opcode = 1, .payload = {}, .declaredLength = streamLimit})));
}

// Writes `head`, then megabytes of blanks as fast as the peer reads them, until it hangs up.
void HostileRelay::stream(QTcpSocket *socket, QByteArray head)
{
    socket->write(head);
    auto written = std::make_shared<qint64>(0);
    const auto more = [socket, written] {
        static const QByteArray chunk(streamChunk, ' ');
        while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 4 * streamChunk
               && *written < streamLimit) {
            socket->write(chunk);
            *written += chunk.size();
        }
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
    more();
}

} // namespace orvane::test
