#include "scripted_relay.h"

#include <QRegularExpression>

#include <boost/json.hpp>

#include <algorithm>
#include <stdexcept>

namespace orvane::test {

struct ScriptedRelay::Connection {
    QTcpSocket *socket = nullptr;
    QByteArray head;
    std::unique_ptr<WebSocketServerPeer> peer;
};

namespace {

constexpr qint64 streamChunk = 1024 * 1024;
constexpr qint64 streamLimit = 400 * streamChunk;

QByteArray header(const QByteArray &head, const QString &name)
{
    const QRegularExpression line("\r\n" + name + ": *([^\r]*)", QRegularExpression::CaseInsensitiveOption);
    return line.match(QString::fromUtf8(head)).captured(1).toUtf8();
}

} // namespace

ScriptedRelay::ScriptedRelay()
    : pairingAnswer{200, boost::json::serialize(boost::json::object{{"channelId", credentials.channelId},
                                                                    {"publisherToken", credentials.publisherToken}})}
{
    if (!server_.listen(QHostAddress::LocalHost))
        throw std::runtime_error("the scripted relay cannot listen");
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
        while (QTcpSocket *socket = server_.nextPendingConnection()) {
            auto &connection = *connections_.emplace_back(std::make_unique<Connection>());
            connection.socket = socket;
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, &connection] { read(connection); });
        }
    });
}

ScriptedRelay::~ScriptedRelay() = default;

void ScriptedRelay::read(Connection &connection)
{
    const QByteArray bytes = connection.socket->readAll();
    if (!connection.peer) {
        connection.head += bytes;
        const auto end = connection.head.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray head = connection.head.left(end);
        if (!head.startsWith("GET ") || !head.contains("/connect ")) {
            const QByteArray body = connection.head.mid(end + 4);
            if (body.size() >= header(head, "Content-Length").toLongLong())
                answerHttp(connection.socket, head, body);
            return;
        }
        connection.peer = std::make_unique<WebSocketServerPeer>();
        sockets_.push_back(&connection);
        // The peer answers only the daemon's own request line and host; the key is what counts.
        connection.head = "GET / HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: " +
                          header(head, "Sec-WebSocket-Key") + "\r\n\r\n" + connection.head.mid(end + 4);
    }
    const auto received = connection.peer->feed(connection.head.isEmpty() ? bytes.toStdString()
                                                                           : std::exchange(connection.head, {}).toStdString());
    connection.socket->write(QByteArray::fromStdString(received.reply));
    if (received.closed) {
        closeFrameSeen_ = true;
        connection.socket->disconnectFromHost();
    }
    for (const auto &message : received.messages) {
        messages_.push_back(message);
        if (boost::json::parse(message).as_object().at("type") == "authenticate")
            connection.socket->write(QByteArray::fromStdString(connection.peer->text(R"({"type":"authenticated"})")));
    }
}

void ScriptedRelay::answerHttp(QTcpSocket *socket, const QByteArray &head, const QByteArray &body)
{
    const QByteArray requestLine = head.left(head.indexOf("\r\n"));
    const bool revoke = requestLine.contains("/revoke ");
    requests_.push_back((requestLine.split(' ').value(0) + ' ' + requestLine.split(' ').value(1) + ' ' +
                         header(head, "Content-Type") + ' ' + header(head, "Authorization") + ' ' + body)
                            .toStdString());
    const Answer &answer = revoke ? revokeAnswer : pairingAnswer;
    if (answer.shape == Answer::Shape::none)
        return socket->abort();
    const QByteArray status = "HTTP/1.1 " + QByteArray::number(answer.status) + " Scripted\r\nConnection: close\r\n";
    if (answer.shape == Answer::Shape::endless)
        return stream(socket, status + "Content-Type: application/json\r\n\r\n[");
    socket->write(status + (answer.body.empty() ? "" : "Content-Type: application/json\r\n") + "Content-Length: " +
                  QByteArray::number(qsizetype(answer.body.size())) + "\r\n\r\n" + QByteArray::fromStdString(answer.body));
    socket->disconnectFromHost();
}

void ScriptedRelay::send(std::string_view message, bool binary)
{
    WebSocketServerPeer &peer = *sockets_.back()->peer;
    sockets_.back()->socket->write(QByteArray::fromStdString(binary ? peer.binary(message) : peer.text(message)));
}

void ScriptedRelay::close()
{
    sockets_.back()->socket->write(QByteArray::fromStdString(sockets_.back()->peer->close(1000)));
}

void ScriptedRelay::abort()
{
    sockets_.back()->socket->abort();
}

void ScriptedRelay::sendOversizedFrame()
{
    RawFrame header;
    header.declaredLength = 400 << 20;
    sockets_.back()->socket->write(QByteArray::fromStdString(encodeRaw(header)));
}

// Writes `head`, then megabytes of blanks as fast as the peer reads them, until it hangs up.
void ScriptedRelay::stream(QTcpSocket *socket, QByteArray head)
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
