#pragma once

#include "relay/channel_store.h"
#include "relay/pin_book.h"
#include "relay/socket_hub.h"

#include <QAbstractHttpServer>
#include <QHostAddress>

#include <optional>

namespace orvane {

// The relay's HTTP routes, and the upgrade of the channel path to a WebSocket:
//   GET  /, /glasses.css, /glasses.js  the glasses page (GlassesPage)
//   POST /v1/pairings                  the glasses ask for a PIN
//   POST /v1/pairings/complete         the companion redeems it for a channel
//   GET  /v1/pairings/{pairingId}      the glasses collect their subscriber token, once
//   POST /v1/channels/{id}/revoke      the publisher ends the channel
//   GET  /v1/channels/{id}/connect     WebSocket (SocketHub)
class RelayServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    struct Options {
        QString dataDirectory;
        PinBook::Limits limits;
        PinBook::Clock clock = &QDateTime::currentDateTimeUtc;
        std::chrono::milliseconds authenticationTimeout = std::chrono::seconds(10);
    };

    // Throws ChannelStoreError when the data directory cannot hold the database.
    explicit RelayServer(const Options &options, QObject *parent = nullptr);

    // The port listened on (the chosen one when `port` is 0), or nothing when the address
    // cannot be bound.
    std::optional<quint16> listenAt(const QHostAddress &host, quint16 port);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    void issuePin(QHttpServerResponder &responder);
    void completePairing(const QHttpServerRequest &request, QHttpServerResponder &responder);
    void pairingStatus(const QString &pairingId, QHttpServerResponder &responder);
    void revoke(const QString &channelId, const QHttpServerRequest &request,
                QHttpServerResponder &responder);

    ChannelStore channels_;
    PinBook pins_;
    SocketHub hub_;
};

} // namespace orvane
