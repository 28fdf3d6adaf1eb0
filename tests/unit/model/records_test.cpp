#include <gtest/gtest.h>

#include <boost/json.hpp>

#include "model/date_formatting.h"
#include "model/records.h"

namespace orvane {
namespace {

namespace json = boost::json;

// Every record with every optional present: its keys are the record's whole key list.
constexpr std::string_view fullSnapshot = R"({"schemaVersion":1,"generatedAt":"g","sequence":7,
  "companion":{"connected":true,"version":"0.1.0","codexVersion":"codex-cli 0.171.0","protocolVersion":"v2",
    "authenticationMode":"chatgpt","cancellationSupported":true,"lastHeartbeatAt":"h"},
  "activeThreadId":"t","threads":[{"id":"t","title":"Fix","projectName":"orvane","status":"waiting_for_approval",
    "activityText":"a","startedAt":"s","updatedAt":"u","completedAt":"c","durationSeconds":113,
    "requiresAttention":true,"attentionType":"approval","model":"gpt-5","reasoningEffort":"high","summary":"Done.",
    "transcriptAvailability":"activity","transcript":[{"id":"i","kind":"user","text":"Hi","createdAt":"u",
    "redactionCount":2}],"git":{"branch":"main","dirty":true,"changedFiles":2,"additions":10,"deletions":3,
    "commit":"0123456789ab"},"checks":{"test":"passed","build":"running"},"cancellationSupported":true}],
  "usage":{"available":true,"unavailableReason":"r","authenticationMode":"chatgpt","planType":"plus",
    "creditBalance":"12.5","windows":[{"label":"Primary window","percentUsed":42.5,"percentRemaining":57.5,
    "resetAt":"r","windowMinutes":300}],"inputTokensToday":1,"outputTokensToday":2,"cachedInputTokensToday":3,
    "contextTokens":4,"contextWindow":5,"completedToday":6,"failedToday":7,"activitySecondsToday":8,
    "updatedAt":"u"}})";

json::value roundTrip(std::string_view text)
{
    const auto snapshot = decodeText<GlassesSnapshot>(text);
    return snapshot ? json::value_from(*snapshot) : json::value();
}

TEST(RecordJson, EveryRecordWritesExactlyItsKeys)
{
    const std::pair<json::value, std::string_view> rows[] = {
        {roundTrip(fullSnapshot), fullSnapshot},
        {json::value_from(SharingSettings{}),
         R"({"threadTitles":true,"projectNickname":true,"activityStatus":true,"elapsedTime":true,
             "finalSummary":true,"modelAndReasoning":true,"gitSummary":true,"checkStatus":true,
             "transcript":"messages","usageMetrics":true,"nativeNotifications":false,"startAtLogin":false})"},
        {json::value_from(PairingCredentials{"c", "p"}), R"({"channelId":"c","publisherToken":"p"})"},
        {json::value_from(ThreadView{.id = "t", .updatedAt = "u"}),
         R"({"id":"t","title":"","status":"unknown","updatedAt":"u","requiresAttention":false,
             "transcriptAvailability":"none","cancellationSupported":false})"},
        {json::value_from(UsageView{.authenticationMode = "unknown", .updatedAt = "u"}),
         R"({"available":false,"authenticationMode":"unknown","windows":[],"updatedAt":"u"})"},
        {json::value_from(GlassesSnapshot{}),
         R"({"schemaVersion":1,"generatedAt":"","sequence":0,"threads":[],"companion":{"connected":false,
             "version":"","authenticationMode":"","cancellationSupported":false}})"},
    };
    for (const auto &[encoded, expected] : rows)
        EXPECT_EQ(encoded, json::parse(expected)) << expected;
    EXPECT_EQ(decodeText<UsageWindow>(R"({"label":"l","percentUsed":40})")->percentUsed, 40.0);
    EXPECT_EQ(decodeText<PairingCredentials>(R"({"channelId":"c","publisherToken":"p"})"), (PairingCredentials{"c", "p"}));
    EXPECT_EQ(decodeText<SharingSettings>(encode(SharingSettings{.gitSummary = false, .transcript = TranscriptLevel::full})),
              (SharingSettings{.gitSummary = false, .transcript = TranscriptLevel::full}));
}

TEST(RecordJson, DecodingIsStrictButOptionalsMayBeNullOrMissing)
{
    const auto valid = json::parse(fullSnapshot).at_pointer("/threads/0").as_object();
    const struct {
        const char *key, *replacement; // nullptr: remove the key
        bool decodes;
    } rows[] = {
        {"updatedAt", nullptr, false},           {"id", "null", false},
        {"requiresAttention", R"("true")", false}, {"durationSeconds", "1.5", false},
        {"title", "3", false},                   {"status", R"("waitingForApproval")", false},
        {"transcriptAvailability", R"("everything")", false},
        {"git", R"({"dirty":true,"changedFiles":1,"additions":0})", false},
        {"summary", "12", false},                {"transcript", "[1]", false},
        {"summary", "null", true},               {"git", "null", true},
        {"transcript", nullptr, true},           {"checks", nullptr, true},
    };
    for (const auto &row : rows) {
        auto broken = valid;
        if (row.replacement)
            broken[row.key] = json::parse(row.replacement);
        else
            broken.erase(row.key);
        const auto decoded = decode<ThreadView>(broken);
        EXPECT_EQ(decoded.has_value(), row.decodes) << row.key << " " << (row.replacement ? row.replacement : "-");
        if (decoded)
            EXPECT_EQ(json::value_from(*decoded).as_object().contains(row.key), false) << row.key;
    }
    EXPECT_FALSE(decodeText<GlassesSnapshot>("{not json"));
    EXPECT_FALSE(decodeText<PairingCredentials>("[]"));
    const auto settings = json::value_from(SharingSettings{}).as_object();
    for (const auto &member : settings) {
        auto partial = settings;
        partial.erase(member.key());
        EXPECT_FALSE(decode<SharingSettings>(partial)) << member.key();
    }
}

TEST(Enumerations, RawValuesTextsAndOrder)
{
    std::vector<std::string_view> raws, levels;
    for (const auto state : allThreadStates()) {
        raws.push_back(rawValue(state));
        EXPECT_EQ(threadStateFromRaw(rawValue(state)), state);
    }
    for (const auto level : allTranscriptLevels())
        levels.push_back(rawValue(level));
    EXPECT_EQ(raws, (std::vector<std::string_view>{"queued", "thinking", "reading", "editing", "testing", "building",
                                                   "waiting_for_approval", "waiting_for_user", "finished", "failed",
                                                   "stopped", "unknown"}));
    EXPECT_EQ(levels, (std::vector<std::string_view>{"none", "messages", "activity", "full"}));
    EXPECT_EQ(displayName(ThreadState::waitingForUser), "Needs answer");
    EXPECT_EQ(activity(ThreadState::testing), "Running tests\u2026");
    EXPECT_EQ(activity(ThreadState::failed), "Task failed");
    EXPECT_FALSE(threadStateFromRaw("waitingForApproval"));
    EXPECT_FALSE(transcriptLevelFromRaw("Messages"));
}

TEST(DateFormatting, WritesMillisecondsAndZAndReadsInternetDateTimes)
{
    using namespace std::chrono;
    const sys_time<milliseconds> moment = sys_days(year{2026} / 3 / 4) + 5h + 6min + 7s + 89ms;
    EXPECT_EQ(DateFormatting::iso(moment + 999us), "2026-03-04T05:06:07.089Z");
    EXPECT_EQ(DateFormatting::iso(sys_days(year{1970} / 1 / 1)), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(DateFormatting::parseIso("2026-03-04T05:06:07.089Z"), moment);
    EXPECT_EQ(DateFormatting::parseIso("2026-03-04T06:06:07.5+01:00"), moment - 89ms + 500ms);
    for (const char *bad : {"", "2026-03-04", "2026-03-04T05:06:07", "2026-02-30T00:00:00Z", "2026-03-04T05:06:07.Z",
                            "2026-03-04T25:06:07Z", "2026-03-04T05:06:07Zjunk"})
        EXPECT_FALSE(DateFormatting::parseIso(bad)) << bad;
    EXPECT_FALSE(DateFormatting::parseIso("2026-03-04T05:06:07.000Z", true));
    EXPECT_EQ(DateFormatting::parseIso("2026-03-04T05:06:07Z", true), moment - 89ms);
}

} // namespace
} // namespace orvane
