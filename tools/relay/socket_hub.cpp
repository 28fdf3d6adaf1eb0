#include "relay/socket_hub.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimer>

namespace orvane {
namespace {

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray errorMessage(const QString &text)
{
    return compact({{"type", "error"}, {"message", text}});
}

QByteArray publisherMessage(bool online)
{
    return compact({{"type", "publisher"}, {"online", online}});
}

void sendUtf8(QWebSocket *socket, const QByteArray &utf8)
{
    socket->sendTextMessage(QString::fromUtf8(utf8));
}

} // namespace

SocketHub::SocketHub(ChannelStore &channels, std::chrono::milliseconds authenticationTimeout, QObject *parent)
    : QObject(parent), channels_(channels), authenticationTimeout_(authenticationTimeout)
{
}

SocketHub::~SocketHub()
{
    for (auto &[raw, peer] : peers_)
        raw->disconnect(this);
}

void SocketHub::adopt(std::unique_ptr<QWebSocket> socket)
{
    static const QRegularExpression connectPath(QStringLiteral("^/v1/channels/([^/]+)/connect$"));
    const auto match = connectPath.match(socket->requestUrl().path());
    const QString channelId = match.hasMatch() ? match.captured(1) : QString();
    QWebSocket *raw = socket.get();
    // Far above the relay's own limit, so an over-long message is answered, not fatal; beyond
    // this Qt closes the socket rather than buffer without end.
    raw->setMaxAllowedIncomingMessageSize(4 * messageLimit);
    peers_.emplace(raw, Peer{std::move(socket), channelId, std::nullopt});
    if (channelId.isEmpty() || !channels_.exists(channelId)) {
        raw->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("Unknown channel"));
        drop(raw);
        return;
    }
    connect(raw, &QWebSocket::textMessageReceived, this,
            [this, raw](const QString &text) { receive(raw, text.toUtf8()); });
    connect(raw, &QWebSocket::binaryMessageReceived, this, [this, raw](const QByteArray &bytes) {
        if (bytes.isValidUtf8())
            receive(raw, bytes);
    });
    connect(raw, &QWebSocket::disconnected, this, [this, raw] { drop(raw); });
    QTimer::singleShot(authenticationTimeout_, raw, [this, raw] {
        const auto it = peers_.find(raw);
        if (it != peers_.end() && !it->second.role)
            refuse(it->second, QStringLiteral("Authenticate first."));
    });
}

void SocketHub::revoke(const QString &channelId)
{
    lastSnapshot_.remove(channelId);
    sendTo(ChannelStore::Role::publisher, channelId, compact({{"type", "revoked"}}));
    std::vector<QWebSocket *> closing;
    for (const auto &[raw, peer] : peers_)
        if (peer.channelId == channelId)
            closing.push_back(raw);
    for (QWebSocket *raw : closing) {
        raw->close(QWebSocketProtocol::CloseCodeNormal, QStringLiteral("Revoked"));
        drop(raw);
    }
}

void SocketHub::receive(QWebSocket *socket, const QByteArray &utf8)
{
    const auto it = peers_.find(socket);
    if (it == peers_.end())
        return;
    Peer &peer = it->second;
    if (utf8.size() > messageLimit) {
        sendUtf8(socket, errorMessage(QStringLiteral("The message is larger than 262,144 bytes.")));
        return;
    }
    const QJsonObject message = QJsonDocument::fromJson(utf8).object();
    const QString type = message.value(QStringLiteral("type")).toString();
    if (!peer.role) {
        authenticate(peer, message);
        return;
    }
    forward(peer, type, utf8);
}

void SocketHub::authenticate(Peer &peer, const QJsonObject &message)
{
    if (message.value(QStringLiteral("type")).toString() != QStringLiteral("authenticate")) {
        refuse(peer, QStringLiteral("Authenticate first."));
        return;
    }
    const QString roleName = message.value(QStringLiteral("role")).toString();
    std::optional<ChannelStore::Role> role;
    if (roleName == QStringLiteral("publisher"))
        role = ChannelStore::Role::publisher;
    else if (roleName == QStringLiteral("subscriber"))
        role = ChannelStore::Role::subscriber;
    const QString token = message.value(QStringLiteral("token")).toString();
    if (!role || !channels_.authenticate(peer.channelId, *role, token)) {
        refuse(peer, QStringLiteral("The token is not valid for this channel."));
        return;
    }
    const bool publisherWasOnline = hasPublisher(peer.channelId);
    peer.role = role;
    sendUtf8(peer.socket.get(), compact({{"type", "authenticated"}}));
    if (*role == ChannelStore::Role::subscriber)
        sendUtf8(peer.socket.get(), publisherMessage(publisherWasOnline));
    else if (!publisherWasOnline)
        sendTo(ChannelStore::Role::subscriber, peer.channelId, publisherMessage(true));
    const auto snapshot = lastSnapshot_.constFind(peer.channelId);
    if (*role == ChannelStore::Role::subscriber && snapshot != lastSnapshot_.cend())
        sendUtf8(peer.socket.get(), *snapshot);
}

void SocketHub::forward(const Peer &from, const QString &type, const QByteArray &utf8)
{
    if (*from.role == ChannelStore::Role::publisher) {
        if (type == QStringLiteral("snapshot"))
            lastSnapshot_.insert(from.channelId, utf8);
        if (type == QStringLiteral("snapshot") || type == QStringLiteral("event"))
            sendTo(ChannelStore::Role::subscriber, from.channelId, utf8);
    } else if (type == QStringLiteral("command")) {
        sendTo(ChannelStore::Role::publisher, from.channelId, utf8);
    }
}

void SocketHub::sendTo(ChannelStore::Role role, const QString &channelId, const QByteArray &utf8)
{
    for (const auto &[raw, peer] : peers_)
        if (peer.channelId == channelId && peer.role == role)
            sendUtf8(raw, utf8);
}

bool SocketHub::hasPublisher(const QString &channelId) const
{
    for (const auto &[raw, peer] : peers_)
        if (peer.channelId == channelId && peer.role == ChannelStore::Role::publisher)
            return true;
    return false;
}

void SocketHub::refuse(Peer &peer, const QString &message)
{
    QWebSocket *raw = peer.socket.get();
    sendUtf8(raw, errorMessage(message));
    raw->close(QWebSocketProtocol::CloseCodePolicyViolated, message);
    drop(raw);
}

void SocketHub::drop(QWebSocket *socket)
{
    const auto it = peers_.find(socket);
    if (it == peers_.end())
        return;
    socket->disconnect(this);
    it->second.socket.release()->setParent(this);
    const QString channelId = it->second.channelId;
    const bool wasPublisher = it->second.role == ChannelStore::Role::publisher;
    peers_.erase(it);
    if (wasPublisher && !hasPublisher(channelId))
        sendTo(ChannelStore::Role::subscriber, channelId, publisherMessage(false));
    // Deleting a socket at once would lose the error and close frames still buffered (and
    // its signals may be on the stack): it goes once the peer has closed, or after a grace.
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(std::chrono::seconds(5), socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

} // namespace orvane
