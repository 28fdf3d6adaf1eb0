#pragma once

#include "relay/channel_store.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QWebSocket>

#include <chrono>
#include <map>
#include <memory>
#include <optional>

namespace orvane {

// The relay's WebSocket side: every socket belongs to one channel, authenticates with its
// first frame, and then publishers' snapshots and events go to the channel's subscribers and
// subscribers' commands to its publishers. Subscribers hear {"type":"publisher","online":…}
// when they authenticate and whenever the channel gains its first or loses its last publisher.
class SocketHub : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype messageLimit = 262'144;

    // A socket that has not authenticated within `authenticationTimeout` is closed.
    SocketHub(ChannelStore &channels, std::chrono::milliseconds authenticationTimeout, QObject *parent = nullptr);
    ~SocketHub() override;

    // Takes a socket the HTTP server upgraded; one on an unknown path or channel is closed.
    void adopt(std::unique_ptr<QWebSocket> socket);
    // The channel's publishers are told "revoked"; every socket of the channel is closed.
    void revoke(const QString &channelId);

private:
    struct Peer {
        std::unique_ptr<QWebSocket> socket;
        QString channelId;
        std::optional<ChannelStore::Role> role; // set once authenticated
    };

    void receive(QWebSocket *socket, const QByteArray &utf8);
    void authenticate(Peer &peer, const QJsonObject &message);
    void forward(const Peer &from, const QString &type, const QByteArray &utf8);
    void sendTo(ChannelStore::Role role, const QString &channelId, const QByteArray &utf8);
    void drop(QWebSocket *socket);
    bool hasPublisher(const QString &channelId) const;
    void refuse(Peer &peer, const QString &message);

    ChannelStore &channels_;
    std::chrono::milliseconds authenticationTimeout_;
    std::map<QWebSocket *, Peer> peers_;
    QHash<QString, QByteArray> lastSnapshot_; // by channel, sent to subscribers on authentication
};

} // namespace orvane
