#include "relay_test_support.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <stdexcept>

namespace orvane::test {

QByteArray httpMessage(const QByteArray &method, const QByteArray &path, const QByteArray &body, const QByteArray &headers)
{
    return method + " " + path + " HTTP/1.1\r\nHost: relay\r\nContent-Type: application/json\r\n" + headers +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

HttpAnswer httpRequest(const QByteArray &method, const QUrl &url, const QByteArray &body,
                       const std::map<QByteArray, QByteArray> &headers)
{
    QByteArray lines;
    for (const auto &[name, value] : headers)
        lines += name + ": " + value + "\r\n";
    return RawConnection("127.0.0.1", url.port()).http(httpMessage(method, url.path(QUrl::FullyEncoded).toUtf8(), body, lines));
}

LocalRelay::LocalRelay(PinBook::Limits limits, PinBook::Clock clock, std::chrono::milliseconds authenticationTimeout,
                       ServerLimits server)
    : options_{data_.path(), limits, std::move(clock), authenticationTimeout, server, {}}
{
    start();
}

void LocalRelay::start()
{
    if (server_)
        return;
    server_ = std::make_unique<RelayServer>(options_);
    port_ = server_->listenAt(QHostAddress::LocalHost, port_).value_or(0);
    if (!port_)
        throw std::runtime_error("the test relay cannot listen");
}

QString LocalRelay::issuePin()
{
    return jsonObject(httpRequest("POST", url("/v1/pairings")).body).value("pin").toString();
}

RelayPairing pairAt(const QUrl &base)
{
    const auto url = [&](const QString &path) { return QUrl(base.toString() + path); };
    const QJsonObject pin = jsonObject(httpRequest("POST", url("/v1/pairings")).body);
    const HttpAnswer completed =
        httpRequest("POST", url("/v1/pairings/complete"), QJsonDocument(QJsonObject{{"pin", pin.value("pin")}}).toJson());
    const QJsonObject channel = jsonObject(completed.body);
    const QJsonObject glasses = jsonObject(httpRequest("GET", url("/v1/pairings/" + pin.value("pairingId").toString())).body);
    if (completed.status != 200 || glasses.value("status").toString() != "completed")
        throw std::runtime_error("the test relay did not pair");
    return {{channel.value("channelId").toString().toStdString(), channel.value("publisherToken").toString().toStdString()},
            glasses.value("subscriberToken").toString()};
}

TestSocket::TestSocket()
{
    QObject::connect(&socket_, &QWebSocket::textMessageReceived, [this](const QString &text) { received_.append(text.toUtf8()); });
    QObject::connect(&socket_, &QWebSocket::disconnected, [this] { closed_ = true; });
}

bool TestSocket::open(const QUrl &url)
{
    closed_ = false;
    socket_.open(url);
    waitUntil([this] { return socket_.state() == QAbstractSocket::ConnectedState || closed_; });
    return socket_.state() == QAbstractSocket::ConnectedState;
}

QByteArray authenticateMessage(const QString &role, const QString &token)
{
    return QJsonDocument(QJsonObject{{"type", "authenticate"}, {"role", role}, {"token", token}}).toJson(QJsonDocument::Compact);
}

bool TestSocket::authenticate(const QUrl &url, const QString &role, const QString &token)
{
    if (!open(url))
        return false;
    send(authenticateMessage(role, token));
    return jsonObject(next()).value("type") == "authenticated";
}

std::optional<QByteArray> TestSocket::next(std::chrono::milliseconds limit)
{
    if (!waitUntil([this] { return !received_.isEmpty(); }, limit))
        return std::nullopt;
    return received_.takeFirst();
}

RawConnection::RawConnection(const QString &source, quint16 port, int receiveBuffer)
{
    socket.bind(QHostAddress(source)); // makes the socket, so the option below has one to go to
    if (receiveBuffer > 0)
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBuffer);
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.waitForConnected(10'000);
}

HttpAnswer RawConnection::http(const QByteArray &request, std::chrono::milliseconds limit)
{
    socket.write(request);
    static const QRegularExpression contentLength("\r\ncontent-length: *([0-9]+)", QRegularExpression::CaseInsensitiveOption);
    qsizetype end = -1, length = 0;
    const bool answered = readUntil([&] {
        if (end < 0 && (end = received.indexOf("\r\n\r\n")) >= 0)
            length = contentLength.match(received.left(end)).captured(1).toLongLong();
        return end >= 0 && received.size() >= end + 4 + length;
    }, limit);
    if (!answered)
        return {};
    const HttpAnswer answer{received.mid(9, 3).toInt(), received.mid(end + 4, length)};
    received.remove(0, end + 4 + length);
    return answer;
}

bool RawConnection::sendAll(const QByteArray &bytes)
{
    if (socket.write(bytes) < 0)
        return false;
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(10'000))
            return false;
    return socket.state() == QAbstractSocket::ConnectedState;
}

bool RawConnection::readUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    const auto read = [&] {
        const QByteArray more = socket.readAll();
        bytesRead += more.size();
        received += more;
        return done();
    };
    waitUntil([&] { return read() || socket.state() == QAbstractSocket::UnconnectedState; }, limit);
    return read();
}

} // namespace orvane::test
