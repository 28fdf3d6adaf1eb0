#include "relay/relay_endpoints.h"

#include "relay/relay_log.h"

#include <boost/json.hpp>

namespace orvane {
namespace {

using Status = http::status;

std::string text(const QString &qt)
{
    return qt.toStdString();
}

HttpResponse issuePin(PinBook &pins, const RouteCall &call)
{
    const auto issued = pins.issue(QString::fromStdString(call.clientKey));
    if (!issued) {
        relayLog("pairing refused for " + call.clientAddress + ": too many PINs asked for");
        return messageResponse(Status::too_many_requests, "Too many PINs were asked for. Wait a minute and try again.");
    }
    relayLog("pairing issued " + shortId(text(issued->pairingId)) + " for " + call.clientAddress);
    return jsonResponse(Status::created,
                        boost::json::serialize(boost::json::object{
                            {"pin", text(issued->pin)},
                            {"pairingId", text(issued->pairingId)},
                            {"expiresAt", text(issued->expiresAt.toString(Qt::ISODateWithMs))}}));
}

HttpResponse completePairing(ChannelStore &channels, PinBook &pins, const RouteCall &call)
{
    boost::system::error_code error;
    const boost::json::value body = boost::json::parse(call.request.body(), error);
    const boost::json::value *pin = body.is_object() ? body.as_object().if_contains("pin") : nullptr;
    if (error || !pin || !pin->is_string())
        return messageResponse(Status::bad_request, "The request needs a \"pin\" text.");
    const auto redemption = pins.redeem(QString::fromStdString(std::string(pin->as_string())),
                                        QString::fromStdString(call.clientKey));
    for (const QString &withdrawn : redemption.withdrawn)
        relayLog("pairing withdrawn " + shortId(text(withdrawn)) + " after too many wrong PINs");
    switch (redemption.outcome) {
    case PinBook::Outcome::rateLimited:
        relayLog("pairing refused for " + call.clientAddress + ": too many wrong PINs");
        return messageResponse(Status::too_many_requests, "Too many wrong PINs. Wait a minute and try again.");
    case PinBook::Outcome::unknown:
        relayLog("pairing refused for " + call.clientAddress + ": unknown PIN");
        return messageResponse(Status::not_found, "This PIN is unknown or has expired.");
    case PinBook::Outcome::accepted:
        break;
    }
    const ChannelStore::NewChannel channel = channels.create();
    pins.complete(redemption.pairingId,
                  {QString::fromStdString(channel.channelId), QString::fromStdString(channel.subscriberToken)});
    relayLog("pairing completed " + shortId(text(redemption.pairingId)) + " as channel " + shortId(channel.channelId) +
             " for " + call.clientAddress);
    return jsonResponse(Status::ok, boost::json::serialize(boost::json::object{
                                        {"channelId", channel.channelId}, {"publisherToken", channel.publisherToken}}));
}

HttpResponse pairingStatus(PinBook &pins, const RouteCall &call)
{
    const PinBook::PairingState state = pins.take(QString::fromStdString(call.captures.at(0)));
    switch (state.status) {
    case PinBook::Status::unknown:
        return messageResponse(Status::not_found, "This pairing is unknown or has expired.");
    case PinBook::Status::pending:
        return jsonResponse(Status::ok, R"({"status":"pending"})");
    case PinBook::Status::completed:
        break;
    }
    return jsonResponse(Status::ok, boost::json::serialize(boost::json::object{
                                        {"status", "completed"},
                                        {"channelId", text(state.completion->channelId)},
                                        {"subscriberToken", text(state.completion->subscriberToken)}}));
}

HttpResponse revoke(ChannelStore &channels, ChannelHub &hub, const RouteCall &call)
{
    const std::string &channelId = call.captures.at(0);
    if (!channels.exists(channelId))
        return messageResponse(Status::not_found, "This channel is unknown.");
    const std::string_view authorization = call.request[http::field::authorization];
    const std::string_view bearer = "Bearer ";
    const std::string token(authorization.starts_with(bearer) ? authorization.substr(bearer.size()) : std::string_view());
    if (!channels.authenticate(channelId, ChannelStore::Role::publisher, token))
        return messageResponse(Status::unauthorized, "The token is not valid for this channel.");
    channels.remove(channelId);
    hub.end(channelId);
    relayLog("channel revoked " + shortId(channelId) + " by " + call.clientAddress);
    return HttpResponse(Status::no_content, 11);
}

} // namespace

void addRelayEndpoints(Routes &routes, ChannelStore &channels, PinBook &pins, ChannelHub &hub)
{
    routes.add(http::verb::post, "/v1/pairings", [&pins](const RouteCall &call) { return issuePin(pins, call); });
    routes.add(http::verb::post, "/v1/pairings/complete",
               [&channels, &pins](const RouteCall &call) { return completePairing(channels, pins, call); });
    routes.add(http::verb::get, "/v1/pairings/*", [&pins](const RouteCall &call) { return pairingStatus(pins, call); });
    routes.add(http::verb::post, "/v1/channels/*/revoke",
               [&channels, &hub](const RouteCall &call) { return revoke(channels, hub, call); });
}

} // namespace orvane
