#include <gtest/gtest.h>

#include <fixture.h>

#include <boost/json.hpp>

#include "model/date_formatting.h"
#include "model/records.h"

namespace orvane {
namespace {

using test::fixture;

namespace json = boost::json;

const std::string fullSnapshot = json::serialize(fixture("full_snapshot.json"));
const json::value cases = fixture("record-cases.json");

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
    for (const auto &value : cases.at("threadChanges").as_array()) {
        const auto &row = value.as_array();
        const std::string_view key = row.at(0).as_string();
        auto broken = valid;
        if (row.size() > 2)
            broken[key] = row.at(2);
        else
            broken.erase(key);
        const auto decoded = decode<ThreadView>(broken);
        EXPECT_EQ(decoded.has_value(), row.at(1).as_bool()) << row;
        EXPECT_FALSE(decoded && json::value_from(*decoded).as_object().contains(key)) << row;
    }
    EXPECT_FALSE(decodeText<GlassesSnapshot>("{not json") || decodeText<PairingCredentials>("[]"));
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
    for (const auto &refused : cases.at("refusedDates").as_array())
        EXPECT_FALSE(DateFormatting::parseIso(refused.as_string())) << refused;
    EXPECT_EQ(DateFormatting::parseIso("2200-01-01T00:00:00Z"), sys_days(year{2200} / 1 / 1));
    EXPECT_FALSE(DateFormatting::parseIso("2026-03-04T05:06:07.000Z", true));
    EXPECT_EQ(DateFormatting::parseIso("2026-03-04T05:06:07Z", true), moment - 89ms);
}

} // namespace
} // namespace orvane
