#include "model/date_formatting.h"
#include "model/records.h"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <set>

namespace json = boost::json;
using namespace orvane;

namespace {

std::set<std::string> keysOf(const json::value &value)
{
    std::set<std::string> keys;
    for (const auto &member : value.as_object())
        keys.emplace(member.key());
    return keys;
}

ThreadView fullThread()
{
    return ThreadView{
        .id = "thread-1", .title = "Fix the parser", .projectName = "orvane",
        .status = ThreadState::waitingForApproval, .activityText = "Waiting for approval…",
        .startedAt = "2026-03-04T05:06:07.089Z", .updatedAt = "2026-03-04T05:07:00.000Z",
        .completedAt = "2026-03-04T05:08:00.000Z", .durationSeconds = 113, .requiresAttention = true,
        .attentionType = "approval", .model = "gpt-5", .reasoningEffort = "high", .summary = "Done.",
        .transcriptAvailability = TranscriptLevel::activity,
        .transcript = std::vector<TranscriptEntry>{{"item-1", "user", "Hello", "2026-03-04T05:07:00.000Z", 0}},
        .git = GitView{"main", true, 2, 10, 3, "0123456789ab"},
        .checks = CheckView{"passed", "running"}, .cancellationSupported = true};
}

UsageView fullUsage()
{
    return UsageView{
        .available = true, .unavailableReason = "none", .authenticationMode = "chatgpt",
        .planType = "plus", .creditBalance = "12.5",
        .windows = {{"Primary window", 42.5, 57.5, "2026-03-04T10:00:00.000Z", 300}},
        .inputTokensToday = 1, .outputTokensToday = 2, .cachedInputTokensToday = 3,
        .contextTokens = 4, .contextWindow = 5, .completedToday = 6, .failedToday = 7,
        .activitySecondsToday = 8, .updatedAt = "2026-03-04T05:07:00.000Z"};
}

GlassesSnapshot fullSnapshot()
{
    return GlassesSnapshot{
        .schemaVersion = 1, .generatedAt = "2026-03-04T05:07:00.000Z", .sequence = 7,
        .companion = {true, "0.1.0", "codex-cli 0.171.0", "v2", "chatgpt", true, "2026-03-04T05:07:00.000Z"},
        .activeThreadId = "thread-1", .threads = {fullThread()}, .usage = fullUsage()};
}

struct KeyCase {
    const char *record;
    json::value encoded;
    std::set<std::string> keys;
};

TEST(RecordJson, EveryRecordWritesExactlyItsKeys)
{
    const KeyCase cases[] = {
        {"CompanionHealth", json::value_from(fullSnapshot().companion),
         {"connected", "version", "codexVersion", "protocolVersion", "authenticationMode",
          "cancellationSupported", "lastHeartbeatAt"}},
        {"TranscriptEntry", json::value_from(fullThread().transcript->front()),
         {"id", "kind", "text", "createdAt", "redactionCount"}},
        {"GitView", json::value_from(*fullThread().git),
         {"branch", "dirty", "changedFiles", "additions", "deletions", "commit"}},
        {"CheckView", json::value_from(*fullThread().checks), {"test", "build"}},
        {"ThreadView", json::value_from(fullThread()),
         {"id", "title", "projectName", "status", "activityText", "startedAt", "updatedAt", "completedAt",
          "durationSeconds", "requiresAttention", "attentionType", "model", "reasoningEffort", "summary",
          "transcriptAvailability", "transcript", "git", "checks", "cancellationSupported"}},
        {"UsageWindow", json::value_from(fullUsage().windows.front()),
         {"label", "percentUsed", "percentRemaining", "resetAt", "windowMinutes"}},
        {"UsageView", json::value_from(fullUsage()),
         {"available", "unavailableReason", "authenticationMode", "planType", "creditBalance", "windows",
          "inputTokensToday", "outputTokensToday", "cachedInputTokensToday", "contextTokens",
          "contextWindow", "completedToday", "failedToday", "activitySecondsToday", "updatedAt"}},
        {"GlassesSnapshot", json::value_from(fullSnapshot()),
         {"schemaVersion", "generatedAt", "sequence", "companion", "activeThreadId", "threads", "usage"}},
        {"SharingSettings", json::value_from(SharingSettings{}),
         {"threadTitles", "projectNickname", "activityStatus", "elapsedTime", "finalSummary",
          "modelAndReasoning", "gitSummary", "checkStatus", "transcript", "usageMetrics",
          "nativeNotifications", "startAtLogin"}},
        {"PairingCredentials", json::value_from(PairingCredentials{"c", "t"}), {"channelId", "publisherToken"}},
        {"ThreadView, every optional absent", json::value_from(ThreadView{.id = "t", .updatedAt = "u"}),
         {"id", "title", "status", "updatedAt", "requiresAttention", "transcriptAvailability",
          "cancellationSupported"}},
        {"UsageView, counters absent", json::value_from(UsageView{.authenticationMode = "unknown"}),
         {"available", "authenticationMode", "windows", "updatedAt"}},
        {"GlassesSnapshot, no thread and no usage", json::value_from(GlassesSnapshot{}),
         {"schemaVersion", "generatedAt", "sequence", "companion", "threads"}},
    };
    for (const auto &row : cases)
        EXPECT_EQ(keysOf(row.encoded), row.keys) << row.record;

    EXPECT_TRUE(json::value_from(GlassesSnapshot{}).at("threads").as_array().empty());
}

TEST(RecordJson, RoundTripKeepsEveryField)
{
    EXPECT_EQ(decodeText<GlassesSnapshot>(encode(fullSnapshot())), fullSnapshot());
    EXPECT_EQ(decodeText<SharingSettings>(encode(SharingSettings{.transcript = TranscriptLevel::full})),
              SharingSettings{.transcript = TranscriptLevel::full});
    // Doubles written as integers still read as doubles.
    EXPECT_EQ(decodeText<UsageWindow>(R"({"label":"Primary window","percentUsed":40})")->percentUsed, 40.0);
}

TEST(RecordJson, NullOrMissingOptionalsAreAbsent)
{
    const auto thread = decodeText<ThreadView>(
        R"({"id":"t","title":"x","status":"finished","updatedAt":"u","requiresAttention":false,)"
        R"("transcriptAvailability":"none","cancellationSupported":false,"summary":null,"git":null,"transcript":null})");
    ASSERT_TRUE(thread);
    EXPECT_FALSE(thread->summary);
    EXPECT_FALSE(thread->git);
    EXPECT_FALSE(thread->transcript);
}

TEST(RecordJson, DecodingIsStrict)
{
    const auto valid = json::value_from(fullThread()).as_object();
    ASSERT_TRUE(decode<ThreadView>(json::value(valid)));

    struct Breakage {
        const char *what;
        const char *key;
        std::optional<json::value> replacement; // nothing: remove the key
    };
    const Breakage breakages[] = {
        {"missing required key", "updatedAt", std::nullopt},
        {"string where a bool belongs", "requiresAttention", json::value("true")},
        {"fraction where an integer belongs", "durationSeconds", json::value(1.5)},
        {"number where a string belongs", "title", json::value(3)},
        {"unknown state raw value", "status", json::value("waitingForApproval")},
        {"unknown transcript level", "transcriptAvailability", json::value("everything")},
        {"nested record missing a key", "git", json::parse(R"({"dirty":true,"changedFiles":1,"additions":0})")},
        {"optional of the wrong type", "summary", json::value(12)},
        {"array entry of the wrong type", "transcript", json::parse(R"([1])")},
        {"required null", "id", json::value(nullptr)},
    };
    for (const auto &breakage : breakages) {
        auto broken = valid;
        if (breakage.replacement)
            broken[breakage.key] = *breakage.replacement;
        else
            broken.erase(breakage.key);
        EXPECT_FALSE(decode<ThreadView>(json::value(broken))) << breakage.what;
    }
    EXPECT_FALSE(decodeText<GlassesSnapshot>("{not json"));
    EXPECT_FALSE(decodeText<PairingCredentials>("[]"));
}

TEST(RecordJson, SharingSettingsNeedAllTwelveKeys)
{
    const auto complete = json::value_from(SharingSettings{}).as_object();
    for (const auto &member : complete) {
        auto partial = complete;
        partial.erase(member.key());
        EXPECT_FALSE(decode<SharingSettings>(json::value(partial))) << member.key();
    }
    const SharingSettings defaults;
    EXPECT_TRUE(defaults.threadTitles && defaults.projectNickname && defaults.activityStatus
                && defaults.elapsedTime && defaults.finalSummary && defaults.modelAndReasoning
                && defaults.gitSummary && defaults.checkStatus && defaults.usageMetrics);
    EXPECT_EQ(defaults.transcript, TranscriptLevel::messages);
    EXPECT_FALSE(defaults.nativeNotifications);
    EXPECT_FALSE(defaults.startAtLogin);
}

TEST(Enumerations, RawValuesTextsAndOrder)
{
    std::vector<std::string> raws;
    for (const auto state : allThreadStates()) {
        raws.emplace_back(rawValue(state));
        EXPECT_EQ(threadStateFromRaw(rawValue(state)), state);
    }
    EXPECT_EQ(raws, (std::vector<std::string>{"queued", "thinking", "reading", "editing", "testing",
                                              "building", "waiting_for_approval", "waiting_for_user",
                                              "finished", "failed", "stopped", "unknown"}));
    EXPECT_EQ(displayName(ThreadState::waitingForUser), "Needs answer");
    EXPECT_EQ(activity(ThreadState::testing), "Running tests\u2026");
    EXPECT_EQ(activity(ThreadState::unknown), "Checking Codex\u2026");
    EXPECT_EQ(activity(ThreadState::failed), "Task failed");
    EXPECT_FALSE(threadStateFromRaw("waitingForApproval"));

    std::vector<std::string> levels;
    for (const auto level : allTranscriptLevels())
        levels.emplace_back(rawValue(level));
    EXPECT_EQ(levels, (std::vector<std::string>{"none", "messages", "activity", "full"}));
    EXPECT_FALSE(transcriptLevelFromRaw("Messages"));
}

TEST(DateFormatting, WritesMillisecondsAndZ)
{
    using namespace std::chrono;
    const auto moment = sys_days(year{2026} / 3 / 4) + hours(5) + minutes(6) + seconds(7) + microseconds(89'999);
    EXPECT_EQ(DateFormatting::iso(moment), "2026-03-04T05:06:07.089Z");
    EXPECT_EQ(DateFormatting::iso(sys_days(year{1970} / 1 / 1)), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(DateFormatting::parseIso("2026-03-04T05:06:07.089Z"),
              time_point_cast<system_clock::duration>(sys_days(year{2026} / 3 / 4) + hours(5) + minutes(6)
                                                      + seconds(7) + milliseconds(89)));
}

TEST(DateFormatting, ReadsInternetDateTimes)
{
    using namespace std::chrono;
    const auto base = DateFormatting::parseIso("2026-03-04T05:06:07Z");
    ASSERT_TRUE(base);
    EXPECT_EQ(DateFormatting::parseIso("2026-03-04T06:06:07+01:00"), base);
    EXPECT_EQ(DateFormatting::parseIso("2026-03-04T05:06:07.5Z"), *base + milliseconds(500));
    EXPECT_EQ(DateFormatting::parseIso(DateFormatting::iso(*base)), base);
    for (const char *bad : {"", "2026-03-04", "2026-03-04T05:06:07", "2026-02-30T00:00:00Z",
                            "2026-03-04T05:06:07.Z", "2026-03-04T25:06:07Z", "2026-03-04T05:06:07Zjunk"})
        EXPECT_FALSE(DateFormatting::parseIso(bad)) << bad;
    EXPECT_FALSE(DateFormatting::parseIso("2026-03-04T05:06:07.000Z", true));
    EXPECT_TRUE(DateFormatting::parseIso("2026-03-04T05:06:07Z", true));
}

} // namespace
