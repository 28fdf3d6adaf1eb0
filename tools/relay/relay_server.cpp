#include "relay/relay_server.h"

#include "relay/glasses_page.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpServer>

namespace orvane {
namespace {

using Status = QHttpServerResponder::StatusCode;

void answer(QHttpServerResponder &responder, const QJsonObject &body, Status status = Status::Ok)
{
    responder.write(QJsonDocument(body).toJson(QJsonDocument::Compact),
                    {{"Content-Type", "application/json"}}, status);
}

void fail(QHttpServerResponder &responder, Status status, const QString &message)
{
    answer(responder, {{"message", message}}, status);
}

void serve(QHttpServerResponder &responder, const GlassesPage::File &file)
{
    responder.writeStatusLine(Status::Ok);
    responder.writeHeader("Content-Type", file.contentType);
    responder.writeHeader("Content-Length", QByteArray::number(file.body.size()));
    for (const auto &[name, value] : GlassesPage::securityHeaders())
        responder.writeHeader(name, value);
    responder.writeBody(file.body);
}

bool isUpgrade(const QHttpServerRequest &request)
{
    return request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
}

} // namespace

RelayServer::RelayServer(const Options &options, QObject *parent)
    : QAbstractHttpServer(parent), channels_(options.dataDirectory),
      pins_(options.limits, options.clock), hub_(channels_, options.authenticationTimeout)
{
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, [this] {
        while (hasPendingWebSocketConnections())
            hub_.adopt(nextPendingWebSocketConnection());
    });
}

std::optional<quint16> RelayServer::listenAt(const QHostAddress &host, quint16 port)
{
    auto *server = new QTcpServer(this);
    if (!server->listen(host, port)) {
        delete server;
        return std::nullopt;
    }
    bind(server);
    return server->serverPort();
}

bool RelayServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    // Qt upgrades only a request that is handled without an answer; the hub checks the path
    // and the channel itself and closes what does not belong.
    if (isUpgrade(request))
        return true;

    static const QRegularExpression pairingPath(QStringLiteral("^/v1/pairings/([^/]+)$"));
    static const QRegularExpression revokePath(QStringLiteral("^/v1/channels/([^/]+)/revoke$"));
    const QString path = request.url().path();
    const auto method = request.method();
    auto responder = makeResponder(request, socket);
    using Method = QHttpServerRequest::Method;

    if (const auto file = method == Method::Get ? GlassesPage::find(path) : std::nullopt) {
        serve(responder, *file);
    } else if (method == Method::Post && path == QStringLiteral("/v1/pairings")) {
        issuePin(responder);
    } else if (method == Method::Post && path == QStringLiteral("/v1/pairings/complete")) {
        completePairing(request, responder);
    } else if (const auto match = pairingPath.match(path); method == Method::Get && match.hasMatch()) {
        pairingStatus(match.captured(1), responder);
    } else if (const auto match = revokePath.match(path); method == Method::Post && match.hasMatch()) {
        revoke(match.captured(1), request, responder);
    } else {
        fail(responder, Status::NotFound, QStringLiteral("There is nothing at this address."));
    }
    return true;
}

void RelayServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    auto responder = makeResponder(request, socket);
    fail(responder, Status::NotFound, QStringLiteral("There is nothing at this address."));
}

void RelayServer::issuePin(QHttpServerResponder &responder)
{
    const PinBook::Issued issued = pins_.issue();
    answer(responder,
           {{"pin", issued.pin},
            {"pairingId", issued.pairingId},
            {"expiresAt", issued.expiresAt.toString(Qt::ISODateWithMs)}},
           Status::Created);
}

void RelayServer::completePairing(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
    const QJsonValue pin = QJsonDocument::fromJson(request.body()).object().value(QStringLiteral("pin"));
    if (!pin.isString()) {
        fail(responder, Status::BadRequest, QStringLiteral("The request needs a \"pin\" text."));
        return;
    }
    const auto redemption = pins_.redeem(pin.toString(), request.remoteAddress().toString());
    switch (redemption.outcome) {
    case PinBook::Outcome::rateLimited:
        fail(responder, Status::TooManyRequests,
             QStringLiteral("Too many wrong PINs. Wait a minute and try again."));
        return;
    case PinBook::Outcome::unknown:
        fail(responder, Status::NotFound, QStringLiteral("This PIN is unknown or has expired."));
        return;
    case PinBook::Outcome::accepted:
        break;
    }
    const ChannelStore::NewChannel channel = channels_.create();
    pins_.complete(redemption.pairingId, {channel.channelId, channel.subscriberToken});
    answer(responder, {{"channelId", channel.channelId}, {"publisherToken", channel.publisherToken}});
}

void RelayServer::pairingStatus(const QString &pairingId, QHttpServerResponder &responder)
{
    const PinBook::PairingState state = pins_.take(pairingId);
    switch (state.status) {
    case PinBook::Status::unknown:
        fail(responder, Status::NotFound, QStringLiteral("This pairing is unknown or has expired."));
        return;
    case PinBook::Status::pending:
        answer(responder, {{"status", "pending"}});
        return;
    case PinBook::Status::completed:
        answer(responder, {{"status", "completed"},
                           {"channelId", state.completion->channelId},
                           {"subscriberToken", state.completion->subscriberToken}});
        return;
    }
}

void RelayServer::revoke(const QString &channelId, const QHttpServerRequest &request,
                         QHttpServerResponder &responder)
{
    if (!channels_.exists(channelId)) {
        fail(responder, Status::NotFound, QStringLiteral("This channel is unknown."));
        return;
    }
    const QByteArray authorization = request.value("authorization");
    const QByteArray bearer = "Bearer ";
    const QString token = authorization.startsWith(bearer)
                              ? QString::fromUtf8(authorization.mid(bearer.size()))
                              : QString();
    if (!channels_.authenticate(channelId, ChannelStore::Role::publisher, token)) {
        fail(responder, Status::Unauthorized, QStringLiteral("The token is not valid for this channel."));
        return;
    }
    channels_.remove(channelId);
    hub_.revoke(channelId);
    responder.write(Status::NoContent);
}

} // namespace orvane
