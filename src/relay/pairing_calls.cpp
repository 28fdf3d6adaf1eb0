// The publisher's two HTTP calls: redeeming a PIN and revoking the publisher token.
#include "relay/pairing_answer.h"
#include "relay/relay_address.h"
#include "relay/relay_publisher.h"
#include "relay/relay_reach.h"

#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

#include <boost/json/serialize.hpp>

#include <memory>

namespace orvane {
namespace {

struct LaterDeleter {
    void operator()(QObject *object) const { object->deleteLater(); }
};

} // namespace

QCoro::Task<PairingCredentials> RelayPublisher::completePairing(QString pin)
{
    const auto address = relayAddress(baseURL_, QStringLiteral("/v1/pairings/complete"));
    if (!address)
        throw RelayError(RelayError::Kind::invalidURL);
    QNetworkRequest request(*address);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(static_cast<int>(timing_.requestTimeout.count()));
    const std::string body = boost::json::serialize(boost::json::object{{"pin", PairingAnswer::pinDigits(pin)}});
    const std::unique_ptr<QNetworkReply, LaterDeleter> reply(network_->post(request, QByteArray::fromStdString(body)));
    co_await reply.get();
    if (const auto unreachable = RelayReach::replyFailure(baseURL_, *reply))
        throw RelayError(RelayError::Kind::transport, *unreachable);
    co_return PairingAnswer::read(*reply);
}

QCoro::Task<void> RelayPublisher::revoke()
{
    if (!credentials_)
        co_return;
    const QPointer<QObject> alive(&context_);
    const auto address = relayAddress(
        baseURL_, QStringLiteral("/v1/channels/") + QString::fromStdString(credentials_->channelId) + QStringLiteral("/revoke"));
    if (address) {
        QNetworkRequest request(*address);
        request.setRawHeader("Authorization", QByteArray("Bearer ") + QByteArray::fromStdString(credentials_->publisherToken));
        request.setTransferTimeout(static_cast<int>(timing_.requestTimeout.count()));
        const std::unique_ptr<QNetworkReply, LaterDeleter> reply(network_->sendCustomRequest(request, "POST"));
        // Whatever the relay says, unpairing goes on locally.
        co_await reply.get();
    }
    if (alive)
        disconnect(true);
}

} // namespace orvane
