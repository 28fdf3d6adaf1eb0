#pragma once

#include "model/date_formatting.h"
#include "model/records.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// What a snapshot is made of, copied from the model and its App Server client.
struct SnapshotSource {
    bool codexConnected = false;
    std::optional<std::string> codexVersion;
    std::string protocolVersion;
    std::optional<std::string> connectionMode;
    bool cancellationSupported = true;
    std::string authenticationMode = "unknown";
    std::optional<std::string> currentThreadId;
    std::vector<ThreadView> threads;
    std::optional<UsageView> usage;
    bool usageMetrics = true;
};

namespace SnapshotBuilder {

// The snapshot carrying `sequence`. The clock is read twice: the heartbeat time, then the
// generation time. Usage is left out when the user does not share it.
GlassesSnapshot build(SnapshotSource source, std::int64_t sequence,
                      const std::function<DateFormatting::Clock::time_point()> &clock);

} // namespace SnapshotBuilder
} // namespace orvane
