#include "relay_test_support.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <algorithm>

#include <stdexcept>

namespace orvane::test {

bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(5);
    deadline.start(limit);
    loop.exec();
    return done();
}

HttpAnswer httpRequest(const QByteArray &method, const QUrl &url, const QByteArray &body,
                       const std::map<QByteArray, QByteArray> &headers)
{
    QNetworkAccessManager network;
    QNetworkRequest request(url);
    request.setTransferTimeout(10'000);
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    QNetworkReply *reply = network.sendCustomRequest(request, method, body);
    waitUntil([reply] { return reply->isFinished(); }, std::chrono::seconds(15));
    HttpAnswer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    delete reply;
    return answer;
}

LocalRelay::LocalRelay(PinBook::Limits limits, PinBook::Clock clock, std::chrono::milliseconds authenticationTimeout)
    : limits_(limits), clock_(std::move(clock)), authenticationTimeout_(authenticationTimeout)
{
    start();
}

LocalRelay::~LocalRelay() = default;

void LocalRelay::start()
{
    server_ = std::make_unique<RelayServer>(RelayServer::Options{data_.path(), limits_, clock_, authenticationTimeout_});
    const auto port = server_->listenAt(QHostAddress::LocalHost, port_);
    if (!port)
        throw std::runtime_error("the test relay cannot listen");
    port_ = *port;
}

void LocalRelay::stop()
{
    server_.reset();
}

QUrl LocalRelay::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port_));
}

QUrl LocalRelay::url(const QString &path) const
{
    return QUrl(baseUrl().toString() + path);
}

QString LocalRelay::issuePin()
{
    const HttpAnswer answer = httpRequest("POST", url(QStringLiteral("/v1/pairings")));
    return QJsonDocument::fromJson(answer.body).object().value(QStringLiteral("pin")).toString();
}

LocalRelay::Pairing LocalRelay::pair()
{
    const HttpAnswer issued = httpRequest("POST", url(QStringLiteral("/v1/pairings")));
    const QJsonObject pin = QJsonDocument::fromJson(issued.body).object();
    const HttpAnswer completed =
        httpRequest("POST", url(QStringLiteral("/v1/pairings/complete")),
                    QJsonDocument(QJsonObject{{"pin", pin.value("pin")}}).toJson(),
                    {{"Content-Type", "application/json"}});
    const QJsonObject channel = QJsonDocument::fromJson(completed.body).object();
    const HttpAnswer status =
        httpRequest("GET", url(QStringLiteral("/v1/pairings/") + pin.value("pairingId").toString()));
    const QJsonObject glasses = QJsonDocument::fromJson(status.body).object();
    if (completed.status != 200 || glasses.value("status").toString() != QStringLiteral("completed"))
        throw std::runtime_error("the test relay did not pair");
    return Pairing{{channel.value("channelId").toString().toStdString(),
                    channel.value("publisherToken").toString().toStdString()},
                   glasses.value("subscriberToken").toString()};
}

TestSocket::TestSocket()
{
    QObject::connect(&socket_, &QWebSocket::textMessageReceived,
                     [this](const QString &text) { received_.append(text.toUtf8()); });
    QObject::connect(&socket_, &QWebSocket::binaryMessageReceived,
                     [this](const QByteArray &bytes) { received_.append(bytes); });
    QObject::connect(&socket_, &QWebSocket::disconnected, [this] { closed_ = true; });
}

bool TestSocket::open(const QUrl &url)
{
    closed_ = false;
    socket_.open(url);
    return waitUntil([this] { return socket_.state() == QAbstractSocket::ConnectedState || closed_; }) &&
           socket_.state() == QAbstractSocket::ConnectedState;
}

bool TestSocket::authenticate(const QUrl &url, const QString &role, const QString &token)
{
    if (!open(url))
        return false;
    send(QJsonDocument(QJsonObject{{"type", "authenticate"}, {"role", role}, {"token", token}})
             .toJson(QJsonDocument::Compact));
    const auto answer = next();
    return answer && QJsonDocument::fromJson(*answer).object().value("type").toString() ==
                         QStringLiteral("authenticated");
}

void TestSocket::send(const QByteArray &utf8)
{
    socket_.sendTextMessage(QString::fromUtf8(utf8));
}

std::optional<QByteArray> TestSocket::next(std::chrono::milliseconds limit)
{
    if (!waitUntil([this] { return !received_.isEmpty(); }, limit))
        return std::nullopt;
    return received_.takeFirst();
}

bool TestSocket::waitClosed(std::chrono::milliseconds limit)
{
    return waitUntil([this] { return closed_; }, limit);
}

QUrl socketUrl(const QUrl &base, const QString &channelId)
{
    QUrl url = base;
    url.setScheme(QStringLiteral("ws"));
    url.setPath(QStringLiteral("/v1/channels/") + channelId + QStringLiteral("/connect"));
    return url;
}

ScriptedRelay::ScriptedRelay()
    : server_(std::make_unique<QWebSocketServer>(QStringLiteral("scripted relay"), QWebSocketServer::NonSecureMode))
{
    if (!server_->listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("the scripted relay cannot listen");
    QObject::connect(server_.get(), &QWebSocketServer::newConnection, [this] {
        while (server_->hasPendingConnections()) {
            QWebSocket *socket = server_->nextPendingConnection();
            socket->setParent(nullptr);
            connections_.emplace_back(socket);
            QObject::connect(socket, &QWebSocket::textMessageReceived,
                             [this](const QString &text) { received_.append(text.toUtf8()); });
            mostOpen_ = std::max(mostOpen_, openCount());
        }
    });
}

ScriptedRelay::~ScriptedRelay() = default;

QUrl ScriptedRelay::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server_->serverPort()));
}

int ScriptedRelay::openCount() const
{
    return static_cast<int>(std::count_if(connections_.begin(), connections_.end(), [](const auto &socket) {
        return socket->state() == QAbstractSocket::ConnectedState;
    }));
}

bool ScriptedRelay::waitForConnections(int count, std::chrono::milliseconds limit)
{
    return waitUntil([&] { return connectionCount() >= count; }, limit);
}

std::optional<QByteArray> ScriptedRelay::waitForMessage(int index, std::chrono::milliseconds limit)
{
    if (!waitUntil([&] { return received_.size() > index; }, limit))
        return std::nullopt;
    return received_.at(index);
}

} // namespace orvane::test
