#include "relay/relay_publisher.h"

#include "relay/device_name.h"
#include "relay/relay_address.h"
#include "relay/relay_messages.h"
#include "relay/relay_reach.h"

#include <QCoroSignal>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QWebSocket>

#include <boost/json/serialize.hpp>
#include <boost/json/value_from.hpp>

#include <utility>

namespace orvane {

RelayPublisher::RelayPublisher(QUrl baseURL) : RelayPublisher(std::move(baseURL), Timing()) {}

RelayPublisher::RelayPublisher(QUrl baseURL, Timing timing)
    : baseURL_(std::move(baseURL)), timing_(std::move(timing)), deviceName_(DeviceName::localized()),
      network_(new QNetworkAccessManager(&context_))
{
    heartbeat_.setInterval(timing_.heartbeatInterval);
    QObject::connect(&heartbeat_, &QTimer::timeout, &context_, [this] {
        try {
            sendObject(RelayMessages::heartbeat(RelayMessages::Clock::now()));
        } catch (const RelayError &) {
            // No socket at the moment: the next open starts the heartbeat again.
        }
    });
}

RelayPublisher::~RelayPublisher()
{
    heartbeat_.stop();
}

void RelayPublisher::connect(const PairingCredentials &credentials)
{
    disconnect(false);
    credentials_ = credentials;
    shouldReconnect_ = true;
    open();
}

void RelayPublisher::disconnect(bool permanent)
{
    if (permanent) {
        shouldReconnect_ = false;
        credentials_.reset();
    }
    heartbeat_.stop();
    dropSocket(true);
    reportConnection(false);
}

QCoro::Task<void> RelayPublisher::finish(std::chrono::milliseconds limit)
{
    const QPointer<QWebSocket> closing = socket_;
    disconnect(true);
    if (closing && closing->state() != QAbstractSocket::UnconnectedState)
        co_await qCoro(closing.data(), &QWebSocket::disconnected, limit);
}

void RelayPublisher::send(const GlassesSnapshot &snapshot)
{
    boost::json::value json = boost::json::value_from(snapshot);
    if (!json.is_object())
        throw RelayError(RelayError::Kind::invalidResponse);
    sendObject({{"type", "snapshot"}, {"snapshot", std::move(json)}});
}

void RelayPublisher::sendCommandResult(std::string_view commandID, std::string_view status,
                                       std::string_view message, std::int64_t sequence)
{
    sendObject(RelayMessages::commandResult(commandID, status, message, sequence, RelayMessages::Clock::now()));
}

void RelayPublisher::open()
{
    if (!shouldReconnect_ || !credentials_)
        return;
    const auto address = relaySocketAddress(baseURL_, QString::fromStdString(credentials_->channelId));
    if (!address) {
        reportError(RelayError::fixedText(RelayError::Kind::invalidURL));
        return;
    }
    auto *socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, &context_);
    socket_ = socket;
    // Qt would otherwise take messages of up to 2 GiB from a hostile relay; past the limit it
    // closes the socket with "too much data" instead of buffering.
    socket->setMaxAllowedIncomingFrameSize(RelayMessages::inboundLimit);
    socket->setMaxAllowedIncomingMessageSize(RelayMessages::inboundLimit);
    // Qt reports one lost connection as an error and then a disconnect; events of a socket
    // that is no longer the current one are ignored, so each loss schedules one reconnect.
    auto current = [this, socket] { return socket == socket_; };
    QObject::connect(socket, &QWebSocket::connected, &context_, [this, current] {
        if (current())
            opened();
    });
    QObject::connect(socket, &QWebSocket::textMessageReceived, &context_, [this, current](const QString &text) {
        if (current())
            receive(text.toUtf8());
    });
    QObject::connect(socket, &QWebSocket::binaryMessageReceived, &context_, [this, current](const QByteArray &bytes) {
        // Invalid UTF-8 counts as empty text, never as a lossy decoding of its valid parts.
        if (current())
            receive(bytes.isValidUtf8() ? bytes : QByteArray());
    });
    QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), &context_, [this, current, socket] {
        if (current())
            failed(QString::fromStdString(RelayReach::socketFailure(baseURL_, socket->error(), socket->errorString())));
    });
    QObject::connect(socket, &QWebSocket::disconnected, &context_, [this, current, socket] {
        if (!current())
            return;
        if (socket->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData)
            reportError(RelayMessages::tooLargeMessage);
        closed();
    });
    socket->open(*address);
}

void RelayPublisher::opened()
{
    reconnectAttempt_ = 0;
    if (!credentials_)
        return;
    try {
        sendObject(RelayMessages::authenticate(credentials_->publisherToken, deviceName_));
    } catch (const RelayError &) {
        // The relay answers an unauthenticated socket with an error, which reaches onError.
    }
    heartbeat_.start();
}

void RelayPublisher::failed(const QString &reason)
{
    lastFailure_ = reason.toStdString();
    reportError(reason.toStdString());
    reportConnection(false);
    scheduleReconnect();
}

void RelayPublisher::closed()
{
    // A refused connection may end here before, or without, its error being reported.
    if (socket_ && socket_->error() != QAbstractSocket::UnknownSocketError) {
        lastFailure_ = RelayReach::socketFailure(baseURL_, socket_->error(), socket_->errorString());
    } else {
        const QString said = socket_ ? socket_->closeReason() : QString();
        lastFailure_ = said.isEmpty() ? "The relay closed the connection." : "The relay closed the connection: " + said.toStdString();
    }
    reportConnection(false);
    scheduleReconnect();
}

void RelayPublisher::receive(const QByteArray &utf8)
{
    const RelayMessages::Inbound message = RelayMessages::read(std::string_view(utf8.constData(), utf8.size()));
    switch (message.kind) {
    case RelayMessages::Inbound::Kind::authenticated:
        reportConnection(true);
        break;
    case RelayMessages::Inbound::Kind::command:
        if (onCommand)
            onCommand(message.command);
        break;
    case RelayMessages::Inbound::Kind::revoked:
        disconnect(true);
        break;
    case RelayMessages::Inbound::Kind::error:
        reportError(message.errorText);
        break;
    case RelayMessages::Inbound::Kind::ignored:
        break;
    }
}

void RelayPublisher::scheduleReconnect()
{
    if (!shouldReconnect_)
        return;
    dropSocket(false);
    heartbeat_.stop();
    ++reconnectAttempt_;
    nextReconnectDelay_ = timing_.reconnectDelay(reconnectAttempt_);
    // Bound to the context, so a publisher that is gone is not reopened. A timer that fires
    // while a newer connect() already has a socket leaves that socket alone.
    QTimer::singleShot(nextReconnectDelay_, &context_, [this] {
        if (!socket_)
            open();
    });
}

void RelayPublisher::sendObject(const boost::json::object &object)
{
    if (!socket_ || socket_->state() != QAbstractSocket::ConnectedState)
        throw RelayError(RelayError::Kind::disconnected);
    const std::string text = boost::json::serialize(object);
    const QByteArray utf8 = QByteArray::fromStdString(text);
    if (text.size() > RelayMessages::sizeLimit || !utf8.isValidUtf8())
        throw RelayError(RelayError::Kind::invalidResponse);
    if (socket_->sendTextMessage(QString::fromUtf8(utf8)) != utf8.size())
        reportError(socket_->errorString().toStdString());
}

void RelayPublisher::dropSocket(bool close)
{
    QWebSocket *socket = std::exchange(socket_, nullptr);
    if (!socket)
        return;
    QObject::disconnect(socket, nullptr, &context_, nullptr);
    if (!close || socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    // Kept until the close handshake ends, so the close frame is not lost; a relay that never
    // answers it gets five seconds.
    QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(std::chrono::seconds(5), socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->close(QWebSocketProtocol::CloseCodeNormal);
}

void RelayPublisher::reportConnection(bool connected)
{
    if (onConnection)
        onConnection(connected, reconnectAttempt_);
}

void RelayPublisher::reportError(const std::string &text)
{
    if (onError)
        onError(text);
}

} // namespace orvane
