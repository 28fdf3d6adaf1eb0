#pragma once

#include "model/enumerations.h"

#include <boost/describe/class.hpp>

#include <boost/json/value.hpp>
#include <boost/json/value_from.hpp>
#include <boost/json/value_to.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The display records: what the companion builds, keeps, stores and publishes. Each converts
// to and from one JSON object through Boost.JSON (value_from / value_to), keyed by its described
// member names: absent optionals are left out, and decoding is strict (a missing required key, a
// wrong JSON type or an unknown enumeration value fails the whole record).
namespace orvane {

inline constexpr std::int64_t snapshotSchemaVersion = 1;

struct CompanionHealth {
    bool connected = false;
    std::string version;
    std::optional<std::string> codexVersion;
    std::optional<std::string> protocolVersion;
    std::string authenticationMode;
    bool cancellationSupported = false;
    std::optional<std::string> lastHeartbeatAt;
    std::optional<std::string> connectionMode; // how the App Server is reached, while connected
    friend bool operator==(const CompanionHealth &, const CompanionHealth &) = default;
};

struct TranscriptEntry {
    std::string id;
    std::string kind; // "user", "assistant" or "activity"
    std::string text;
    std::string createdAt;
    std::int64_t redactionCount = 0;
    friend bool operator==(const TranscriptEntry &, const TranscriptEntry &) = default;
};

struct GitView {
    std::optional<std::string> branch;
    bool dirty = false;
    std::int64_t changedFiles = 0;
    std::int64_t additions = 0;
    std::int64_t deletions = 0;
    std::optional<std::string> commit;
    friend bool operator==(const GitView &, const GitView &) = default;
};

// Each of "unavailable", "running", "passed", "failed".
struct CheckView {
    std::string test;
    std::string build;
    friend bool operator==(const CheckView &, const CheckView &) = default;
};

struct ThreadView {
    std::string id;
    std::string title;
    std::optional<std::string> projectName;
    ThreadState status = ThreadState::unknown;
    std::optional<std::string> activityText;
    std::optional<std::string> startedAt;
    std::string updatedAt;
    std::optional<std::string> completedAt;
    std::optional<std::int64_t> durationSeconds;
    bool requiresAttention = false;
    std::optional<std::string> attentionType; // "approval", "question" or "failure"
    std::optional<std::string> model;
    std::optional<std::string> reasoningEffort;
    std::optional<std::string> summary;
    TranscriptLevel transcriptAvailability = TranscriptLevel::none;
    std::optional<std::vector<TranscriptEntry>> transcript;
    std::optional<GitView> git;
    std::optional<CheckView> checks;
    bool cancellationSupported = false;
    friend bool operator==(const ThreadView &, const ThreadView &) = default;
};

struct UsageWindow {
    std::string label;
    std::optional<double> percentUsed;
    std::optional<double> percentRemaining;
    std::optional<std::string> resetAt;
    std::optional<std::int64_t> windowMinutes;
    friend bool operator==(const UsageWindow &, const UsageWindow &) = default;
};

struct UsageView {
    bool available = false;
    std::optional<std::string> unavailableReason;
    std::string authenticationMode;
    std::optional<std::string> planType;
    std::optional<std::string> creditBalance;
    std::vector<UsageWindow> windows;
    std::optional<std::int64_t> inputTokensToday;
    std::optional<std::int64_t> outputTokensToday;
    std::optional<std::int64_t> cachedInputTokensToday;
    std::optional<std::int64_t> contextTokens;
    std::optional<std::int64_t> contextWindow;
    std::optional<std::int64_t> completedToday;
    std::optional<std::int64_t> failedToday;
    std::optional<std::int64_t> activitySecondsToday;
    std::string updatedAt;
    friend bool operator==(const UsageView &, const UsageView &) = default;
};

struct GlassesSnapshot {
    std::int64_t schemaVersion = snapshotSchemaVersion;
    std::string generatedAt;
    std::int64_t sequence = 0;
    CompanionHealth companion;
    std::optional<std::string> activeThreadId;
    std::vector<ThreadView> threads;
    std::optional<UsageView> usage;
    friend bool operator==(const GlassesSnapshot &, const GlassesSnapshot &) = default;
};

// The user's choice of what may leave the machine; the initializers are the defaults.
struct SharingSettings {
    bool threadTitles = true;
    bool projectNickname = true;
    bool activityStatus = true;
    bool elapsedTime = true;
    bool finalSummary = true;
    bool modelAndReasoning = true;
    bool gitSummary = true;
    bool checkStatus = true;
    TranscriptLevel transcript = TranscriptLevel::messages;
    bool usageMetrics = true;
    bool nativeNotifications = false;
    bool startAtLogin = false;
    friend bool operator==(const SharingSettings &, const SharingSettings &) = default;
};

struct PairingCredentials {
    std::string channelId;
    std::string publisherToken;
    friend bool operator==(const PairingCredentials &, const PairingCredentials &) = default;
};

BOOST_DESCRIBE_STRUCT(CompanionHealth, (), (connected, version, codexVersion, protocolVersion, authenticationMode, cancellationSupported, lastHeartbeatAt, connectionMode))
BOOST_DESCRIBE_STRUCT(TranscriptEntry, (), (id, kind, text, createdAt, redactionCount))
BOOST_DESCRIBE_STRUCT(GitView, (), (branch, dirty, changedFiles, additions, deletions, commit))
BOOST_DESCRIBE_STRUCT(CheckView, (), (test, build))
BOOST_DESCRIBE_STRUCT(ThreadView, (), (id, title, projectName, status, activityText, startedAt, updatedAt, completedAt, durationSeconds, requiresAttention, attentionType, model, reasoningEffort, summary, transcriptAvailability, transcript, git, checks, cancellationSupported))
BOOST_DESCRIBE_STRUCT(UsageWindow, (), (label, percentUsed, percentRemaining, resetAt, windowMinutes))
BOOST_DESCRIBE_STRUCT(UsageView, (), (available, unavailableReason, authenticationMode, planType, creditBalance, windows, inputTokensToday, outputTokensToday, cachedInputTokensToday, contextTokens, contextWindow, completedToday, failedToday, activitySecondsToday, updatedAt))
BOOST_DESCRIBE_STRUCT(GlassesSnapshot, (), (schemaVersion, generatedAt, sequence, companion, activeThreadId, threads, usage))
BOOST_DESCRIBE_STRUCT(SharingSettings, (), (threadTitles, projectNickname, activityStatus, elapsedTime, finalSummary, modelAndReasoning, gitSummary, checkStatus, transcript, usageMetrics, nativeNotifications, startAtLogin))
BOOST_DESCRIBE_STRUCT(PairingCredentials, (), (channelId, publisherToken))

void tag_invoke(boost::json::value_from_tag, boost::json::value &json, ThreadState state);
ThreadState tag_invoke(boost::json::value_to_tag<ThreadState>, const boost::json::value &json);
void tag_invoke(boost::json::value_from_tag, boost::json::value &json, TranscriptLevel level);
TranscriptLevel tag_invoke(boost::json::value_to_tag<TranscriptLevel>, const boost::json::value &json);

// Compact JSON text of a record.
template <typename Record>
std::string encode(const Record &record);

// The record, or nothing when the JSON does not decode strictly.
template <typename Record>
std::optional<Record> decode(const boost::json::value &json);
template <typename Record>
std::optional<Record> decodeText(std::string_view jsonText);

} // namespace orvane

#include "model/record_json.h"
