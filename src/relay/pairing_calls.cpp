// The publisher's two HTTP calls: redeeming a PIN and revoking the publisher token.
#include "relay/bounded_reply.h"
#include "relay/pairing_answer.h"
#include "relay/relay_address.h"
#include "relay/relay_publisher.h"
#include "relay/relay_reach.h"

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

// The relay deleted the channel, or no longer knows it.
bool revokeConfirmed(const BoundedReply &reply)
{
    return (reply.status >= 200 && reply.status <= 299) || reply.status == 404 || reply.status == 410;
}

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
    const BoundedReply answer = co_await readBounded(reply.get());
    if (const auto unreachable = RelayReach::replyFailure(baseURL_, *reply))
        throw RelayError(RelayError::Kind::transport, *unreachable);
    co_return PairingAnswer::read(answer);
}

QCoro::Task<bool> RelayPublisher::revoke(PairingCredentials credentials)
{
    const auto address = relayAddress(
        baseURL_, QStringLiteral("/v1/channels/") + QString::fromStdString(credentials.channelId) + QStringLiteral("/revoke"));
    if (!address)
        co_return false;
    QNetworkRequest request(*address);
    request.setRawHeader("Authorization", QByteArray("Bearer ") + QByteArray::fromStdString(credentials.publisherToken));
    request.setTransferTimeout(static_cast<int>(timing_.requestTimeout.count()));
    const std::unique_ptr<QNetworkReply, LaterDeleter> reply(network_->sendCustomRequest(request, "POST"));
    co_return revokeConfirmed(co_await readBounded(reply.get()));
}

QCoro::Task<bool> RelayPublisher::revoke()
{
    if (!credentials_)
        co_return false;
    const QPointer<QObject> alive(&context_);
    // Whatever the relay says, unpairing goes on locally.
    const bool confirmed = co_await revoke(*credentials_);
    if (alive)
        disconnect(true);
    co_return confirmed;
}

} // namespace orvane
