#pragma once

#include "relay/relay_publisher.h"
#include "relay/relay_server.h"

#include <waits.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

namespace orvane::test {

using namespace std::chrono_literals;

struct HttpAnswer {
    int status = 0; // 0 when no HTTP answer came
    QByteArray body;
};
// A request as a client writes it; `headers` are whole lines.
QByteArray httpMessage(const QByteArray &method, const QByteArray &path, const QByteArray &body = {},
                       const QByteArray &headers = {});
// One request to a relay on this computer, on a connection of its own.
HttpAnswer httpRequest(const QByteArray &method, const QUrl &url, const QByteArray &body = {},
                       const std::map<QByteArray, QByteArray> &headers = {});

// The object a relay's answer or message holds; empty when it holds none.
inline QJsonObject jsonObject(const std::optional<QByteArray> &bytes)
{
    return QJsonDocument::fromJson(bytes.value_or("")).object();
}

inline QUrl socketUrl(const QUrl &base, const QString &channelId)
{
    return QUrl("ws://" + base.authority() + "/v1/channels/" + channelId + "/connect");
}

// A channel as the glasses and the companion hold it after pairing.
struct RelayPairing {
    PairingCredentials credentials;
    QString subscriberToken;
};
// The glasses' and the companion's whole pairing exchange with the relay at `base`, over HTTP.
RelayPairing pairAt(const QUrl &base);

// An orvane-relay in the test process on a loopback port; its data outlives stop() and start().
class LocalRelay {
public:
    explicit LocalRelay(PinBook::Limits limits = {}, PinBook::Clock clock = &QDateTime::currentDateTimeUtc,
                        std::chrono::milliseconds authenticationTimeout = 10s, ServerLimits server = {});
    // Listens on the port of the first start; does nothing while running.
    void start();
    void stop() { server_.reset(); }
    QUrl baseUrl() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port_)); }
    QUrl url(const QString &path) const { return QUrl(baseUrl().toString() + path); }
    quint16 port() const { return port_; }

    using Pairing = RelayPairing;
    QString issuePin();
    Pairing pair() const { return pairAt(baseUrl()); }
    QUrl socketUrl(const Pairing &pairing) const { return test::socketUrl(baseUrl(), pairing.credentials.channelId.c_str()); }

private:
    QTemporaryDir data_;
    RelayServer::Options options_;
    quint16 port_ = 0;
    std::unique_ptr<RelayServer> server_;
};

// The first message of a socket that means to be `role`.
QByteArray authenticateMessage(const QString &role, const QString &token);

// A WebSocket client that records what it receives: a subscriber, or a hand-driven publisher.
class TestSocket {
public:
    TestSocket();
    bool open(const QUrl &url);
    // Opens and authenticates; true when the relay answered "authenticated".
    bool authenticate(const QUrl &url, const QString &role, const QString &token);
    void send(const QByteArray &utf8) { socket_.sendTextMessage(QString::fromUtf8(utf8)); }
    // The next message not yet taken, waiting for it up to `limit`.
    std::optional<QByteArray> next(std::chrono::milliseconds limit = 10s);
    bool waitClosed(std::chrono::milliseconds limit = 10s) { return waitUntil([this] { return closed_; }, limit); }

private:
    QWebSocket socket_;
    QList<QByteArray> received_;
    bool closed_ = false;
};

// A bare loopback connection, for what Qt's HTTP and WebSocket clients cannot do: connect from a
// chosen 127.x.y.z address, keep a connection between requests, stop reading, send without end.
class RawConnection {
public:
    // A `receiveBuffer` above 0 shrinks the kernel's buffer so a client that stops reading soon
    // stops the sender.
    RawConnection(const QString &source, quint16 port, int receiveBuffer = 0);
    // One request and its answer (bodies with Content-Length only); status 0 when none came.
    HttpAnswer http(const QByteArray &request, std::chrono::milliseconds limit = 10s);
    // False once the relay closed the connection or stopped reading.
    bool sendAll(const QByteArray &bytes);
    // Reads into `received` until `done` or the connection closes; says whether `done`.
    bool readUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = 10s);
    bool waitClosed(std::chrono::milliseconds limit)
    {
        return readUntil([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, limit);
    }

    QTcpSocket socket;
    QByteArray received;
    qint64 bytesRead = 0;
};

// Everything a publisher reported through its three callbacks, in order.
struct PublisherEvents {
    std::vector<std::pair<bool, int>> connections;
    std::vector<boost::json::object> commands;
    std::vector<std::string> errors;

    explicit PublisherEvents(RelayPublisher &publisher)
    {
        publisher.onConnection = [this](bool connected, int attempt) { connections.emplace_back(connected, attempt); };
        publisher.onCommand = [this](const boost::json::object &command) { commands.push_back(command); };
        publisher.onError = [this](const std::string &text) { errors.push_back(text); };
    }
    bool authenticated() const { return !connections.empty() && connections.back() == std::pair(true, 0); }
    void clear() { connections.clear(); commands.clear(); errors.clear(); }
};

// Reconnects after 50 ms, so tests take milliseconds.
inline RelayPublisher::Timing quickTiming(std::chrono::milliseconds heartbeat = 20s)
{
    return {heartbeat, [](int) { return 50ms; }, 5s};
}

} // namespace orvane::test
