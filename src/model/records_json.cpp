#include "model/records.h"

#include <boost/json/object.hpp>

#include <limits>
#include <stdexcept>

namespace json = boost::json;

namespace orvane {
namespace {

[[noreturn]] void reject(std::string_view why)
{
    throw std::invalid_argument(std::string(why));
}

const json::object &objectOf(const json::value &value)
{
    if (!value.is_object())
        reject("expected a JSON object");
    return value.get_object();
}

// Strict reading of one JSON value as a field type.
template <typename T>
T read(const json::value &value)
{
    if constexpr (std::is_same_v<T, std::string>) {
        if (!value.is_string())
            reject("expected a string");
        return std::string(value.get_string());
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!value.is_bool())
            reject("expected a boolean");
        return value.get_bool();
    } else if constexpr (std::is_same_v<T, std::int64_t>) {
        if (value.is_int64())
            return value.get_int64();
        if (value.is_uint64() && value.get_uint64() <= std::uint64_t(std::numeric_limits<std::int64_t>::max()))
            return static_cast<std::int64_t>(value.get_uint64());
        reject("expected a 64-bit integer");
    } else if constexpr (std::is_same_v<T, double>) {
        if (!value.is_number())
            reject("expected a number");
        return value.to_number<double>();
    } else {
        return json::value_to<T>(value);
    }
}

template <typename T>
std::vector<T> readArray(const json::value &value)
{
    if (!value.is_array())
        reject("expected an array");
    std::vector<T> items;
    items.reserve(value.get_array().size());
    for (const auto &item : value.get_array())
        items.push_back(read<T>(item));
    return items;
}

template <typename T>
T required(const json::object &object, std::string_view key)
{
    const auto *value = object.if_contains(key);
    if (!value)
        reject("missing key");
    return read<T>(*value);
}

template <typename T>
std::vector<T> requiredArray(const json::object &object, std::string_view key)
{
    const auto *value = object.if_contains(key);
    if (!value)
        reject("missing key");
    return readArray<T>(*value);
}

// Missing and null are both absent; any other wrong type still fails.
template <typename T>
std::optional<T> optional(const json::object &object, std::string_view key)
{
    const auto *value = object.if_contains(key);
    if (!value || value->is_null())
        return std::nullopt;
    return read<T>(*value);
}

class Writer {
public:
    explicit Writer(json::value &target) : m_object(target.emplace_object()) {}

    template <typename T>
    void put(std::string_view key, const T &value)
    {
        m_object[key] = json::value_from(value, m_object.storage());
    }

    template <typename T>
    void put(std::string_view key, const std::optional<T> &value)
    {
        if (value)
            put(key, *value);
    }

private:
    json::object &m_object;
};

} // namespace

void tag_invoke(json::value_from_tag, json::value &json, ThreadState state)
{
    json = json::string(rawValue(state));
}

ThreadState tag_invoke(json::value_to_tag<ThreadState>, const json::value &json)
{
    const auto state = threadStateFromRaw(read<std::string>(json));
    if (!state)
        reject("unknown thread state");
    return *state;
}

void tag_invoke(json::value_from_tag, json::value &json, TranscriptLevel level)
{
    json = json::string(rawValue(level));
}

TranscriptLevel tag_invoke(json::value_to_tag<TranscriptLevel>, const json::value &json)
{
    const auto level = transcriptLevelFromRaw(read<std::string>(json));
    if (!level)
        reject("unknown transcript level");
    return *level;
}

void tag_invoke(json::value_from_tag, json::value &json, const CompanionHealth &health)
{
    Writer out(json);
    out.put("connected", health.connected);
    out.put("version", health.version);
    out.put("codexVersion", health.codexVersion);
    out.put("protocolVersion", health.protocolVersion);
    out.put("authenticationMode", health.authenticationMode);
    out.put("cancellationSupported", health.cancellationSupported);
    out.put("lastHeartbeatAt", health.lastHeartbeatAt);
    out.put("connectionMode", health.connectionMode);
}

CompanionHealth tag_invoke(json::value_to_tag<CompanionHealth>, const json::value &json)
{
    const auto &in = objectOf(json);
    return {
        .connected = required<bool>(in, "connected"),
        .version = required<std::string>(in, "version"),
        .codexVersion = optional<std::string>(in, "codexVersion"),
        .protocolVersion = optional<std::string>(in, "protocolVersion"),
        .authenticationMode = required<std::string>(in, "authenticationMode"),
        .cancellationSupported = required<bool>(in, "cancellationSupported"),
        .lastHeartbeatAt = optional<std::string>(in, "lastHeartbeatAt"),
        .connectionMode = optional<std::string>(in, "connectionMode"),
    };
}

void tag_invoke(json::value_from_tag, json::value &json, const TranscriptEntry &entry)
{
    Writer out(json);
    out.put("id", entry.id);
    out.put("kind", entry.kind);
    out.put("text", entry.text);
    out.put("createdAt", entry.createdAt);
    out.put("redactionCount", entry.redactionCount);
}

TranscriptEntry tag_invoke(json::value_to_tag<TranscriptEntry>, const json::value &json)
{
    const auto &in = objectOf(json);
    return {
        .id = required<std::string>(in, "id"),
        .kind = required<std::string>(in, "kind"),
        .text = required<std::string>(in, "text"),
        .createdAt = required<std::string>(in, "createdAt"),
        .redactionCount = required<std::int64_t>(in, "redactionCount"),
    };
}

void tag_invoke(json::value_from_tag, json::value &json, const GitView &git)
{
    Writer out(json);
    out.put("branch", git.branch);
    out.put("dirty", git.dirty);
    out.put("changedFiles", git.changedFiles);
    out.put("additions", git.additions);
    out.put("deletions", git.deletions);
    out.put("commit", git.commit);
}

GitView tag_invoke(json::value_to_tag<GitView>, const json::value &json)
{
    const auto &in = objectOf(json);
    return {
        .branch = optional<std::string>(in, "branch"),
        .dirty = required<bool>(in, "dirty"),
        .changedFiles = required<std::int64_t>(in, "changedFiles"),
        .additions = required<std::int64_t>(in, "additions"),
        .deletions = required<std::int64_t>(in, "deletions"),
        .commit = optional<std::string>(in, "commit"),
    };
}

void tag_invoke(json::value_from_tag, json::value &json, const CheckView &checks)
{
    Writer out(json);
    out.put("test", checks.test);
    out.put("build", checks.build);
}

CheckView tag_invoke(json::value_to_tag<CheckView>, const json::value &json)
{
    const auto &in = objectOf(json);
    return {.test = required<std::string>(in, "test"), .build = required<std::string>(in, "build")};
}

void tag_invoke(json::value_from_tag, json::value &json, const ThreadView &thread)
{
    Writer out(json);
    out.put("id", thread.id);
    out.put("title", thread.title);
    out.put("projectName", thread.projectName);
    out.put("status", thread.status);
    out.put("activityText", thread.activityText);
    out.put("startedAt", thread.startedAt);
    out.put("updatedAt", thread.updatedAt);
    out.put("completedAt", thread.completedAt);
    out.put("durationSeconds", thread.durationSeconds);
    out.put("requiresAttention", thread.requiresAttention);
    out.put("attentionType", thread.attentionType);
    out.put("model", thread.model);
    out.put("reasoningEffort", thread.reasoningEffort);
    out.put("summary", thread.summary);
    out.put("transcriptAvailability", thread.transcriptAvailability);
    out.put("transcript", thread.transcript);
    out.put("git", thread.git);
    out.put("checks", thread.checks);
    out.put("cancellationSupported", thread.cancellationSupported);
}

ThreadView tag_invoke(json::value_to_tag<ThreadView>, const json::value &json)
{
    const auto &in = objectOf(json);
    std::optional<std::vector<TranscriptEntry>> transcript;
    if (const auto *entries = in.if_contains("transcript"); entries && !entries->is_null())
        transcript = readArray<TranscriptEntry>(*entries);
    return {
        .id = required<std::string>(in, "id"),
        .title = required<std::string>(in, "title"),
        .projectName = optional<std::string>(in, "projectName"),
        .status = required<ThreadState>(in, "status"),
        .activityText = optional<std::string>(in, "activityText"),
        .startedAt = optional<std::string>(in, "startedAt"),
        .updatedAt = required<std::string>(in, "updatedAt"),
        .completedAt = optional<std::string>(in, "completedAt"),
        .durationSeconds = optional<std::int64_t>(in, "durationSeconds"),
        .requiresAttention = required<bool>(in, "requiresAttention"),
        .attentionType = optional<std::string>(in, "attentionType"),
        .model = optional<std::string>(in, "model"),
        .reasoningEffort = optional<std::string>(in, "reasoningEffort"),
        .summary = optional<std::string>(in, "summary"),
        .transcriptAvailability = required<TranscriptLevel>(in, "transcriptAvailability"),
        .transcript = std::move(transcript),
        .git = optional<GitView>(in, "git"),
        .checks = optional<CheckView>(in, "checks"),
        .cancellationSupported = required<bool>(in, "cancellationSupported"),
    };
}

void tag_invoke(json::value_from_tag, json::value &json, const UsageWindow &window)
{
    Writer out(json);
    out.put("label", window.label);
    out.put("percentUsed", window.percentUsed);
    out.put("percentRemaining", window.percentRemaining);
    out.put("resetAt", window.resetAt);
    out.put("windowMinutes", window.windowMinutes);
}

UsageWindow tag_invoke(json::value_to_tag<UsageWindow>, const json::value &json)
{
    const auto &in = objectOf(json);
    return {
        .label = required<std::string>(in, "label"),
        .percentUsed = optional<double>(in, "percentUsed"),
        .percentRemaining = optional<double>(in, "percentRemaining"),
        .resetAt = optional<std::string>(in, "resetAt"),
        .windowMinutes = optional<std::int64_t>(in, "windowMinutes"),
    };
}

void tag_invoke(json::value_from_tag, json::value &json, const UsageView &usage)
{
    Writer out(json);
    out.put("available", usage.available);
    out.put("unavailableReason", usage.unavailableReason);
    out.put("authenticationMode", usage.authenticationMode);
    out.put("planType", usage.planType);
    out.put("creditBalance", usage.creditBalance);
    out.put("windows", usage.windows);
    out.put("inputTokensToday", usage.inputTokensToday);
    out.put("outputTokensToday", usage.outputTokensToday);
    out.put("cachedInputTokensToday", usage.cachedInputTokensToday);
    out.put("contextTokens", usage.contextTokens);
    out.put("contextWindow", usage.contextWindow);
    out.put("completedToday", usage.completedToday);
    out.put("failedToday", usage.failedToday);
    out.put("activitySecondsToday", usage.activitySecondsToday);
    out.put("updatedAt", usage.updatedAt);
}

UsageView tag_invoke(json::value_to_tag<UsageView>, const json::value &json)
{
    const auto &in = objectOf(json);
    return {
        .available = required<bool>(in, "available"),
        .unavailableReason = optional<std::string>(in, "unavailableReason"),
        .authenticationMode = required<std::string>(in, "authenticationMode"),
        .planType = optional<std::string>(in, "planType"),
        .creditBalance = optional<std::string>(in, "creditBalance"),
        .windows = requiredArray<UsageWindow>(in, "windows"),
        .inputTokensToday = optional<std::int64_t>(in, "inputTokensToday"),
        .outputTokensToday = optional<std::int64_t>(in, "outputTokensToday"),
        .cachedInputTokensToday = optional<std::int64_t>(in, "cachedInputTokensToday"),
        .contextTokens = optional<std::int64_t>(in, "contextTokens"),
        .contextWindow = optional<std::int64_t>(in, "contextWindow"),
        .completedToday = optional<std::int64_t>(in, "completedToday"),
        .failedToday = optional<std::int64_t>(in, "failedToday"),
        .activitySecondsToday = optional<std::int64_t>(in, "activitySecondsToday"),
        .updatedAt = required<std::string>(in, "updatedAt"),
    };
}

void tag_invoke(json::value_from_tag, json::value &json, const GlassesSnapshot &snapshot)
{
    Writer out(json);
    out.put("schemaVersion", snapshot.schemaVersion);
    out.put("generatedAt", snapshot.generatedAt);
    out.put("sequence", snapshot.sequence);
    out.put("companion", snapshot.companion);
    out.put("activeThreadId", snapshot.activeThreadId);
    out.put("threads", snapshot.threads);
    out.put("usage", snapshot.usage);
}

GlassesSnapshot tag_invoke(json::value_to_tag<GlassesSnapshot>, const json::value &json)
{
    const auto &in = objectOf(json);
    return {
        .schemaVersion = required<std::int64_t>(in, "schemaVersion"),
        .generatedAt = required<std::string>(in, "generatedAt"),
        .sequence = required<std::int64_t>(in, "sequence"),
        .companion = required<CompanionHealth>(in, "companion"),
        .activeThreadId = optional<std::string>(in, "activeThreadId"),
        .threads = requiredArray<ThreadView>(in, "threads"),
        .usage = optional<UsageView>(in, "usage"),
    };
}

void tag_invoke(json::value_from_tag, json::value &json, const SharingSettings &settings)
{
    Writer out(json);
    out.put("threadTitles", settings.threadTitles);
    out.put("projectNickname", settings.projectNickname);
    out.put("activityStatus", settings.activityStatus);
    out.put("elapsedTime", settings.elapsedTime);
    out.put("finalSummary", settings.finalSummary);
    out.put("modelAndReasoning", settings.modelAndReasoning);
    out.put("gitSummary", settings.gitSummary);
    out.put("checkStatus", settings.checkStatus);
    out.put("transcript", settings.transcript);
    out.put("usageMetrics", settings.usageMetrics);
    out.put("nativeNotifications", settings.nativeNotifications);
    out.put("startAtLogin", settings.startAtLogin);
}

SharingSettings tag_invoke(json::value_to_tag<SharingSettings>, const json::value &json)
{
    const auto &in = objectOf(json);
    return {
        .threadTitles = required<bool>(in, "threadTitles"),
        .projectNickname = required<bool>(in, "projectNickname"),
        .activityStatus = required<bool>(in, "activityStatus"),
        .elapsedTime = required<bool>(in, "elapsedTime"),
        .finalSummary = required<bool>(in, "finalSummary"),
        .modelAndReasoning = required<bool>(in, "modelAndReasoning"),
        .gitSummary = required<bool>(in, "gitSummary"),
        .checkStatus = required<bool>(in, "checkStatus"),
        .transcript = required<TranscriptLevel>(in, "transcript"),
        .usageMetrics = required<bool>(in, "usageMetrics"),
        .nativeNotifications = required<bool>(in, "nativeNotifications"),
        .startAtLogin = required<bool>(in, "startAtLogin"),
    };
}

void tag_invoke(json::value_from_tag, json::value &json, const PairingCredentials &credentials)
{
    Writer out(json);
    out.put("channelId", credentials.channelId);
    out.put("publisherToken", credentials.publisherToken);
}

PairingCredentials tag_invoke(json::value_to_tag<PairingCredentials>, const json::value &json)
{
    const auto &in = objectOf(json);
    return {
        .channelId = required<std::string>(in, "channelId"),
        .publisherToken = required<std::string>(in, "publisherToken"),
    };
}

} // namespace orvane
