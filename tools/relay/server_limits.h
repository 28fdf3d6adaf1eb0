#pragma once

#include "relay/client_address.h"

#include <chrono>
#include <cstddef>
#include <vector>

namespace orvane {

// What one client may cost the relay. A relay that faces the internet must bound every buffer
// and every wait, or the first careless or hostile client takes it down for everyone.
struct ServerLimits {
    std::size_t headerBytes = 8 * 1024;
    std::size_t bodyBytes = 4 * 1024; // every HTTP endpoint takes a small JSON object at most
    std::chrono::seconds requestDeadline{10};
    std::chrono::seconds keepAliveIdle{30};
    int connectionsPerClient = 64;
    int connectionsTotal = 4096; // lowered to what the descriptor limit allows
    int subscribersPerChannel = 8;
    // A subscriber this many snapshots behind is dropped; it may reconnect and start afresh.
    int snapshotsBehind = 2;
    std::chrono::seconds channelIdleLife{std::chrono::hours(24 * 30)};
    std::chrono::seconds sweepInterval{60};
};

// The frame limit of the relay protocol, in either direction.
inline constexpr std::size_t messageLimit = 262'144;

} // namespace orvane
