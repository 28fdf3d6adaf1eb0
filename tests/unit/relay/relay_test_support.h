#pragma once

#include "model/records.h"
#include "relay/relay_server.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace orvane::test {

// Runs the event loop until `done` holds or `limit` passes; says which.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = std::chrono::seconds(10));

struct HttpAnswer {
    int status = 0; // 0 when no HTTP answer came
    QByteArray body;
};

HttpAnswer httpRequest(const QByteArray &method, const QUrl &url, const QByteArray &body = {},
                       const std::map<QByteArray, QByteArray> &headers = {});

// An orvane-relay inside the test process, on a loopback port, with its data in a temporary
// directory that outlives stop() and start(), as a restarted relay's would.
class LocalRelay {
public:
    explicit LocalRelay(PinBook::Limits limits = {}, PinBook::Clock clock = &QDateTime::currentDateTimeUtc,
                        std::chrono::milliseconds authenticationTimeout = std::chrono::seconds(10));
    ~LocalRelay();

    // The first start takes a free port; later ones reuse it.
    void start();
    void stop();
    bool running() const { return server_ != nullptr; }
    QUrl baseUrl() const;
    QUrl url(const QString &path) const;

    struct Pairing {
        PairingCredentials credentials;
        QString subscriberToken;
    };
    QString issuePin();
    // The whole exchange of the glasses and the companion, over HTTP.
    Pairing pair();

private:
    PinBook::Limits limits_;
    PinBook::Clock clock_;
    std::chrono::milliseconds authenticationTimeout_;
    QTemporaryDir data_;
    quint16 port_ = 0;
    std::unique_ptr<RelayServer> server_;
};

// A WebSocket client that records what it receives: a subscriber, or a hand-driven publisher.
class TestSocket {
public:
    TestSocket();
    bool open(const QUrl &url);
    // Opens and authenticates; true when the relay answered "authenticated".
    bool authenticate(const QUrl &url, const QString &role, const QString &token);
    void send(const QByteArray &utf8);
    // The next message not yet taken, waiting for it up to `limit`.
    std::optional<QByteArray> next(std::chrono::milliseconds limit = std::chrono::seconds(10));
    bool waitClosed(std::chrono::milliseconds limit = std::chrono::seconds(10));
    QWebSocket &socket() { return socket_; }

private:
    QWebSocket socket_;
    QList<QByteArray> received_;
    bool closed_ = false;
};

QUrl socketUrl(const QUrl &base, const QString &channelId);

// A WebSocket server on loopback that plays a relay saying whatever the test wants, including
// what no relay would; it records every connection and message.
class ScriptedRelay {
public:
    ScriptedRelay();
    ~ScriptedRelay();
    QUrl baseUrl() const;

    int connectionCount() const { return static_cast<int>(connections_.size()); }
    int openCount() const;
    int mostOpenAtOnce() const { return mostOpen_; }
    bool waitForConnections(int count, std::chrono::milliseconds limit = std::chrono::seconds(10));
    QWebSocket &latest() { return *connections_.back(); }
    // Messages received on every connection, in order.
    const QList<QByteArray> &received() const { return received_; }
    std::optional<QByteArray> waitForMessage(int index, std::chrono::milliseconds limit = std::chrono::seconds(10));

private:
    std::unique_ptr<QWebSocketServer> server_;
    std::vector<std::unique_ptr<QWebSocket>> connections_;
    QList<QByteArray> received_;
    int mostOpen_ = 0;
};

} // namespace orvane::test
