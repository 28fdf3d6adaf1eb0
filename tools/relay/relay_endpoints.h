#pragma once

#include "relay/channel_hub.h"
#include "relay/channel_store.h"
#include "relay/pin_book.h"
#include "relay/routes.h"

namespace orvane {

// The relay's JSON endpoints:
//   POST /v1/pairings                  the glasses ask for a PIN
//   POST /v1/pairings/complete         the companion redeems it for a channel
//   GET  /v1/pairings/{pairingId}      the glasses collect their subscriber token, once
//   POST /v1/channels/{id}/revoke      the publisher ends the channel
void addRelayEndpoints(Routes &routes, ChannelStore &channels, PinBook &pins, ChannelHub &hub);

} // namespace orvane
