#include <gtest/gtest.h>

#include <fixture.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <tuple>

#include "normalize/codex_normalizer.h"
#include "normalize/thread_rules.h"
#include "normalize/unicode_text.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers" // records name only the fields a case sets

namespace orvane {
namespace {

using test::fixture;

using namespace CodexNormalizer::ThreadRules;
using boost::json::parse;

// A table of cases: each case an array whose last element is the expected value.
boost::json::array table(const std::string &name) { return fixture(name).as_array(); }

// The "result" of a stored answer, null for an error answer.
boost::json::value sampleResult(const std::string &name)
{
    const auto answer = fixture(name);
    return answer.as_object().contains("result") ? answer.at("result") : nullptr;
}

// `actual` cut down to what `expected` names: each key of an object (a missing one as null) and
// each element of an array of the same length.
boost::json::value projected(const boost::json::value &actual, const boost::json::value &expected)
{
    if (expected.is_object() && actual.is_object()) {
        boost::json::object kept;
        for (const auto &[key, value] : expected.as_object()) {
            const auto *found = actual.as_object().if_contains(key);
            kept[key] = projected(found ? *found : nullptr, value);
        }
        return kept;
    }
    if (!expected.is_array() || !actual.is_array() || expected.as_array().size() != actual.as_array().size())
        return actual;
    boost::json::array kept;
    for (std::size_t i = 0; i < expected.as_array().size(); ++i)
        kept.push_back(projected(actual.as_array()[i], expected.as_array()[i]));
    return kept;
}

// 2026-12-06T22:57:40Z, 00:57:40 on 7 December in UTC+2
const std::chrono::sys_seconds now{std::chrono::seconds(1796597860)};
const GitView fixedGit{"main", true, 2, 5, 1, "8f8e7562703b"};
std::vector<std::string> gitCalls; // the paths the last normalize() asked git about

std::optional<CodexNormalizer::NormalizedThreadResult> normalize(const boost::json::value &raw,
                                                                 const SharingSettings &settings = {})
{
    gitCalls.clear();
    const auto git = [](const std::string &path) { return gitCalls.push_back(path), std::optional(fixedGit); };
    return CodexNormalizer::thread(raw, settings, "gpt-5.5", "medium", now, git);
}

TEST(ThreadRules, StatesChecksAndDurationsFromTheirTables)
{
    for (const auto &row : table("thread-states.json")) {
        boost::json::object thread{{"id", "t"}};
        if (!row.at(0).is_null())
            thread["status"] = row.at(0);
        EXPECT_EQ(boost::json::value_from(deriveState(thread, row.at(1).if_object())), row.at(2)) << row;
    }
    for (const auto &row : table("check-summaries.json"))
        EXPECT_EQ(checkSummary(row.at(0).as_array()), decode<CheckView>(row.at(1))) << row;
    for (const auto &row : table("turn-durations.json"))
        EXPECT_EQ(boost::json::value_from(durationSeconds(row.at(0).as_object(), now)), row.at(1)) << row;
    for (const double bad : {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()})
        EXPECT_FALSE(durationSeconds({{"status", "completed"}, {"durationMs", bad}}, now) ||
                     durationSeconds({{"status", "inProgress"}, {"startedAt", -bad}}, now));
}

TEST(ThreadNormalizer, RealSamplesAndTheCasesTable)
{
    const auto cases = table("thread-cases.json");
    for (const auto &value : cases) {
        const auto &row = value.as_object();
        auto settings = row.contains("settings") ? decode<SharingSettings>(row.at("settings")).value()
                                                 : SharingSettings{};
        if (const auto *level = row.if_contains("level"))
            settings.transcript = *transcriptLevelFromRaw(level->as_string());
        const auto *sample = row.if_contains("sample");
        const auto raw = sample ? sampleResult(std::string(sample->as_string())).at("thread") : row.at("raw");
        const auto result = normalize(raw, settings);
        boost::json::value outcome;
        std::string shown; // what leaves for the glasses
        if (result) {
            outcome = parse(shown = encode(result->view));
            outcome.as_object()["activeTurnID"] = boost::json::value_from(result->activeTurnID);
            outcome.as_object()["workspace"] = boost::json::value_from(result->workspace);
            outcome.as_object()["gitCalls"] = boost::json::value_from(gitCalls);
        }
        EXPECT_EQ(projected(outcome, row.at("expect")), row.at("expect")) << row.at("why");
        for (const auto &secret : row.contains("absent") ? row.at("absent").as_array() : boost::json::array{})
            EXPECT_EQ(shown.find(secret.as_string()), std::string::npos) << secret;
    }
    // An item without an id gets a fresh upper-case UUID.
    const std::string freshId = normalize(cases.at(6).at("raw")).value().view.transcript.value().back().id;
    EXPECT_EQ(std::pair(freshId.size(), freshId.find_first_of("abcdef")), std::pair(36ul, std::string::npos));
}

TEST(ThreadNormalizer, KeepsTheLast100EntriesAndRedactsAndCutsTheFinalAnswerOnceTheTurnEnds)
{
    const std::string text(5000, 'x'); // within the transcript's limit, beyond the summary's
    const std::string token = "abcdefghijklmnopqrstuvwxyz", secret = "Bearer " + token;
    boost::json::array answers;
    for (int i = 0; i < 150; ++i)
        answers.push_back({{"type", "agentMessage"}, {"id", "m" + std::to_string(i)}, {"text", (i == 149 ? secret + " " : "") + text}});
    boost::json::value raw{{"id", "t-1"}, {"updatedAt", 1796597842},
                           {"turns", {{{"status", "completed"}, {"items", answers}}}}};
    const ThreadView view = normalize(raw).value().view;
    const auto entries = view.transcript.value();
    ASSERT_EQ(entries.size(), 100u);
    EXPECT_EQ(std::tie(entries.front().id, entries.back().id), std::tuple("m50", "m149"));
    EXPECT_EQ(entries.front().text.size(), text.size());
    EXPECT_EQ(UnicodeText::graphemeCount(view.summary.value_or("")), 1998u);
    EXPECT_TRUE(view.summary.value_or("").starts_with("[REDACTED] xxx"));
    EXPECT_TRUE(view.summary.value_or("").ends_with("\u2026 [TRUNCATED]"));
    EXPECT_EQ(encode(view).find(token), std::string::npos);
    raw.at_pointer("/turns/0/status") = "inProgress";
    EXPECT_FALSE(normalize(raw).value().view.summary);
}

const auto utcDay = [](auto moment) { return std::chrono::floor<std::chrono::days>(moment); };

// Each case: the account and rate-limit answers (a stored answer's name, or the result itself),
// whether usage is shared, and the view. A logged-out App Server answers the rate-limit read with
// an error: no result at all.
TEST(UsageNormalizer, RealAnswersAndTheWindowsTable)
{
    for (const auto &row : table("usage-cases.json")) {
        const auto answer = [&](std::size_t column) {
            const auto &given = row.at(column);
            return given.is_string() ? sampleResult(std::string(given.as_string())) : given;
        };
        const auto view = CodexNormalizer::usage(answer(0), answer(1), {}, row.at(2).as_bool(), now, utcDay);
        EXPECT_EQ(boost::json::value_from(view), row.at(3)) << row;
    }
}

TEST(UsageNormalizer, TodayCountsThreadsUpdatedOnTheLocalDay)
{
    std::vector<ThreadView> threads; // each: when updated, the state, how long it ran
    for (const auto &row : table("today-threads.json"))
        threads.push_back({.status = boost::json::value_to<ThreadState>(row.at(1)),
                           .updatedAt = std::string(row.at(0).as_string()),
                           .durationSeconds = boost::json::value_to<std::optional<std::int64_t>>(row.at(2))});
    const auto totals = [&](const CodexNormalizer::LocalDay &day) {
        const auto view = CodexNormalizer::usage(nullptr, parse(R"({"rateLimits":{}})"), threads, true, now, day);
        return std::tuple(view.completedToday, view.failedToday, view.activitySecondsToday);
    };
    // POSIX offsets are west-positive: this zone is UTC+2 and needs no time zone database.
    setenv("TZ", "ORV-2", 1);
    tzset();
    const auto inUtcPlus2 = totals(CodexNormalizer::systemLocalDay);
    unsetenv("TZ");
    tzset();
    EXPECT_EQ(inUtcPlus2, std::tuple(1, 1, 105));
    EXPECT_EQ(totals(utcDay), std::tuple(1, 2, 145));
}

} // namespace
} // namespace orvane
