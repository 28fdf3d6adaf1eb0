#pragma once

#include "companion/companion_version.h"
#include "model/date_formatting.h"

#include <cstdint>
#include <optional>
#include <string>

namespace orvane {

// The values the debug page reports, gathered from the model and its App Server client.
struct DebugFacts {
    bool codexConnected = false;
    bool relayConnected = false;
    std::optional<std::string> codexVersion;
    std::string protocolVersion;
    std::string connectionMode;
    std::string authenticationMode = "unknown";
    std::optional<std::string> channelId; // when credentials are stored
    std::int64_t reconnectCount = 0;
    std::int64_t eventCount = 0;
    std::optional<DateFormatting::Clock::time_point> lastSync;
    std::optional<std::string> lastError;
    std::int64_t redactionCount = 0; // secrets held back since start
};

// The report, one fact a line, without a final line feed. The publisher token never appears
// and the channel identifier only shortened.
std::string debugReport(const DebugFacts &facts);

} // namespace orvane
