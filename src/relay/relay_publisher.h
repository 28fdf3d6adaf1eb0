#pragma once

#include "model/records.h"
#include "relay/reconnect_backoff.h"
#include "relay/relay_error.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <boost/json/object.hpp>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

class QNetworkAccessManager;
class QWebSocket;

namespace orvane {

// The companion's one link to the relay: at most one WebSocket for the paired channel,
// authenticated as its publisher, carrying snapshots, command results and heartbeats, and
// reconnecting by itself with capped, jittered back-off. It also makes the two HTTP calls of
// pairing. Lives on the thread that created it; every entry and callback happens there.
//
// Callbacks, set by the owner right after construction and invoked synchronously:
//   onConnection(connected, attempt)  every connection change; `attempt` is reconnectAttempt()
//   onCommand(command)                one inbound command object, unchecked
//   onError(text)                     a user-readable error text
class RelayPublisher {
public:
    struct Timing {
        std::chrono::milliseconds heartbeatInterval = std::chrono::seconds(20);
        // Delay before reconnect attempt n (counted from 1).
        std::function<std::chrono::milliseconds(int attempt)> reconnectDelay =
            [backoff = ReconnectBackoff()](int attempt) { return backoff.delay(attempt); };
        // Bounds each pairing call.
        std::chrono::milliseconds requestTimeout = std::chrono::seconds(60);
    };

    explicit RelayPublisher(QUrl baseURL);
    RelayPublisher(QUrl baseURL, Timing timing);
    ~RelayPublisher();
    RelayPublisher(const RelayPublisher &) = delete;
    RelayPublisher &operator=(const RelayPublisher &) = delete;

    std::function<void(bool connected, int attempt)> onConnection;
    std::function<void(const boost::json::object &command)> onCommand;
    std::function<void(const std::string &text)> onError;

    // Drops any socket (not permanently), takes the credentials and opens a new one.
    void connect(const PairingCredentials &credentials);
    // Closes the socket; a permanent disconnect also stops reconnecting and forgets the
    // credentials. Reports onConnection(false, ...) every time.
    void disconnect(bool permanent);
    // A permanent disconnect that waits up to `limit` for the relay to answer the close frame.
    QCoro::Task<void> finish(std::chrono::milliseconds limit);

    // Both throw RelayError: disconnected without an open socket, invalidResponse for a
    // message over 262,144 bytes.
    void send(const GlassesSnapshot &snapshot);
    void sendCommandResult(std::string_view commandID, std::string_view status,
                           std::string_view message, std::int64_t sequence);

    // Exchanges a PIN for the channel's credentials; throws RelayError.
    QCoro::Task<PairingCredentials> completePairing(QString pin);
    // Revokes the publisher token on the relay (whatever the answer) and disconnects for
    // good; without credentials it does nothing. Never throws. True when the relay confirmed
    // that the channel is gone.
    QCoro::Task<bool> revoke();
    // Revokes one channel's token, leaving the connection alone; true as above.
    QCoro::Task<bool> revoke(PairingCredentials credentials);

    const QUrl &baseURL() const { return baseURL_; }
    const std::optional<PairingCredentials> &credentials() const { return credentials_; }
    bool shouldReconnect() const { return shouldReconnect_; }
    int reconnectAttempt() const { return reconnectAttempt_; }
    // Why the socket was last lost or could not be opened, and the wait before the try that
    // followed; empty and zero until the first failure.
    const std::string &lastFailure() const { return lastFailure_; }
    std::chrono::milliseconds nextReconnectDelay() const { return nextReconnectDelay_; }

private:
    void open();
    void opened();
    void failed(const QString &reason);
    void closed();
    void receive(const QByteArray &utf8);
    void scheduleReconnect();
    void sendObject(const boost::json::object &object);
    void dropSocket(bool close);
    void reportConnection(bool connected);
    void reportError(const std::string &text);

    QUrl baseURL_;
    Timing timing_;
    std::string deviceName_;
    // Owns the socket, the timers and the network manager, and guards late callbacks.
    QObject context_;
    QNetworkAccessManager *network_;
    QWebSocket *socket_ = nullptr;
    std::optional<PairingCredentials> credentials_;
    bool shouldReconnect_ = false;
    int reconnectAttempt_ = 0;
    std::string lastFailure_;
    std::chrono::milliseconds nextReconnectDelay_{0};
    QTimer heartbeat_;
};

} // namespace orvane
