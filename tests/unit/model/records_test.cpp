#include <gtest/gtest.h>

#include <fixture.h>

#include <boost/json.hpp>

#include <tuple>

#include "model/date_formatting.h"
#include "model/records.h"

namespace orvane {
namespace {

using test::fixture;

namespace json = boost::json;

const std::string fullSnapshot = json::serialize(fixture("full_snapshot.json"));

TEST(RecordJson, EveryRecordWritesExactlyItsKeys)
{
    // Every record with every optional present: its keys are each record's whole key list.
    EXPECT_EQ(json::value_from(decodeText<GlassesSnapshot>(fullSnapshot).value()), json::parse(fullSnapshot));
    EXPECT_EQ(decodeText<UsageWindow>(R"({"label":"l","percentUsed":40})")->percentUsed, 40.0);
    const SharingSettings changed{.gitSummary = false, .transcript = TranscriptLevel::full};
    EXPECT_EQ(decodeText<SharingSettings>(encode(changed)), changed);
}

TEST(RecordJson, DecodingIsStrictButOptionalsMayBeNullOrMissing)
{
    const auto valid = json::parse(fullSnapshot).at_pointer("/threads/0").as_object();
    const std::tuple<const char *, const char *, bool> rows[] = { // replacement "": the key removed
        {"updatedAt", "", false}, {"id", "null", false}, {"requiresAttention", R"("true")", false},
        {"durationSeconds", "1.5", false}, {"title", "3", false}, {"status", R"("waitingForApproval")", false},
        {"transcriptAvailability", R"("everything")", false}, {"summary", "12", false}, {"transcript", "[1]", false},
        {"git", R"({"dirty":true,"changedFiles":1,"additions":0})", false},
        {"summary", "null", true}, {"git", "null", true}, {"transcript", "", true}, {"checks", "", true}};
    for (const auto &[key, replacement, decodes] : rows) {
        auto broken = valid;
        if (*replacement)
            broken[key] = json::parse(replacement);
        else
            broken.erase(key);
        const auto decoded = decode<ThreadView>(broken);
        EXPECT_EQ(decoded.has_value(), decodes) << key << " " << replacement;
        EXPECT_FALSE(decoded && json::value_from(*decoded).as_object().contains(key)) << key;
    }
    EXPECT_FALSE(decodeText<GlassesSnapshot>("{not json") || decodeText<PairingCredentials>("[]"));
    const auto settings = json::value_from(SharingSettings{}).as_object();
    for (const auto &member : settings) {
        auto partial = settings;
        partial.erase(member.key());
        EXPECT_FALSE(decode<SharingSettings>(partial)) << member.key();
    }
}

TEST(Enumerations, RawValuesTextsAndOrder)
{
    std::string raws; // each raw value, marked "!" where it does not read back
    for (const auto state : allThreadStates())
        raws += std::string(rawValue(state)) + (threadStateFromRaw(rawValue(state)) == state ? " " : "! ");
    for (const auto level : allTranscriptLevels())
        raws += std::string(rawValue(level)) + (transcriptLevelFromRaw(rawValue(level)) == level ? " " : "! ");
    EXPECT_EQ(raws, "queued thinking reading editing testing building waiting_for_approval waiting_for_user finished "
                    "failed stopped unknown none messages activity full ");
    EXPECT_EQ(displayName(ThreadState::waitingForUser), "Needs answer");
    EXPECT_EQ(activity(ThreadState::testing), "Running tests\u2026");
    EXPECT_FALSE(threadStateFromRaw("waitingForApproval") || transcriptLevelFromRaw("Messages"));
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
                            "2026-03-04T25:06:07Z", "2026-03-04T05:06:07Zjunk",
                            // Before 1970, or past what the clock holds: refused, never wrapped.
                            "1969-12-31T23:59:59Z", "1970-01-01T00:00:00+00:01", "2612-01-01T00:00:00Z",
                            "9999-12-31T23:59:59-23:59"})
        EXPECT_FALSE(DateFormatting::parseIso(bad)) << bad;
    EXPECT_EQ(DateFormatting::parseIso("2200-01-01T00:00:00Z"), sys_days(year{2200} / 1 / 1));
    EXPECT_FALSE(DateFormatting::parseIso("2026-03-04T05:06:07.000Z", true));
    EXPECT_EQ(DateFormatting::parseIso("2026-03-04T05:06:07Z", true), moment - 89ms);
}

} // namespace
} // namespace orvane
