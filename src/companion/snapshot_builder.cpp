#include "companion/snapshot_builder.h"

#include "companion/companion_version.h"

namespace orvane::SnapshotBuilder {

GlassesSnapshot build(SnapshotSource source, std::int64_t sequence,
                      const std::function<DateFormatting::Clock::time_point()> &clock)
{
    GlassesSnapshot snapshot;
    snapshot.companion = {source.codexConnected,
                          std::string(companionVersion),
                          std::move(source.codexVersion),
                          std::move(source.protocolVersion),
                          std::move(source.authenticationMode),
                          source.cancellationSupported,
                          DateFormatting::iso(clock()),
                          std::move(source.connectionMode)};
    snapshot.generatedAt = DateFormatting::iso(clock());
    snapshot.sequence = sequence;
    snapshot.activeThreadId = std::move(source.currentThreadId);
    snapshot.threads = std::move(source.threads);
    if (source.usageMetrics)
        snapshot.usage = std::move(source.usage);
    return snapshot;
}

} // namespace orvane::SnapshotBuilder
