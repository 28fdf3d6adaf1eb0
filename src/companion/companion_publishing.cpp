// Snapshots to the glasses, and command results on the same sequence.
#include "companion/companion_model.h"

#include "companion/snapshot_builder.h"
#include "companion/snapshot_trimmer.h"

namespace orvane {

void CompanionModel::publishSnapshot()
{
    if (!paired_)
        return;
    ++sequence_;
    const auto snapshot = buildSnapshot(sequence_);
    try {
        relay_->send(snapshot);
        setEventCount(eventCount_ + 1);
    } catch (const std::exception &error) {
        // Without a connection the failure is expected and already shown as disconnected.
        if (relayConnected_)
            setLastError(error.what());
    }
}

GlassesSnapshot CompanionModel::upcomingSnapshot() const
{
    return buildSnapshot(sequence_ + 1);
}

GlassesSnapshot CompanionModel::buildSnapshot(std::int64_t sequence) const
{
    SnapshotSource source;
    source.codexConnected = codexConnected_;
    source.codexVersion = appServer_->codexVersion();
    source.protocolVersion = AppServerClient::protocolVersion;
    // The mode of a connection that failed would mislead.
    if (codexConnected_)
        source.connectionMode = appServer_->connectionMode();
    source.cancellationSupported = AppServerClient::cancellationSupported;
    source.authenticationMode = authenticationMode_;
    if (currentThread_)
        source.currentThreadId = currentThread_->id;
    source.threads = threads_;
    source.usage = usage_;
    source.usageMetrics = settings_.usageMetrics;
    return SnapshotTrimmer::fit(
        SnapshotBuilder::build(std::move(source), sequence, [] { return DateFormatting::Clock::now(); }));
}

void CompanionModel::sendCommandResult(std::string_view commandId, std::string_view status,
                                       std::string_view message)
{
    ++sequence_;
    try {
        relay_->sendCommandResult(commandId, status, message, sequence_);
    } catch (const std::exception &error) {
        setLastError(error.what());
    }
}

} // namespace orvane
