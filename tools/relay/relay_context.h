#pragma once

#include "relay/channel_hub.h"
#include "relay/channel_store.h"
#include "relay/client_address.h"
#include "relay/pin_book.h"
#include "relay/routes.h"
#include "relay/server_limits.h"

#include <chrono>
#include <vector>

namespace orvane {

// What every connection of one relay shares. All of it lives on the relay's I/O thread.
struct RelayContext {
    const ServerLimits &limits;
    const std::vector<IpAddress> &trustedProxies;
    std::chrono::milliseconds authenticationTimeout;
    ChannelStore &channels;
    ChannelHub &hub;
    Routes &routes;
};

} // namespace orvane
