#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "model/date_formatting.h"
#include "normalize/codex_normalizer.h"
#include "normalizer_fixtures.h"

namespace orvane {
namespace {

using test::json;
using test::sampleResult;

const auto now = test::at(1796597860); // 2026-12-06T22:57:40Z

UsageView usageOf(const boost::json::value &account, const boost::json::value &rateLimits,
                  const std::vector<ThreadView> &threads = {}, bool enabled = true)
{
    return CodexNormalizer::usage(account, rateLimits, threads, enabled, now,
                                  [](auto moment) { return std::chrono::floor<std::chrono::days>(moment); });
}

TEST(UsageSamples, SubscriptionAccountWithBothWindows)
{
    const auto view = usageOf(sampleResult("account-read-chatgpt.json"),
                              sampleResult("account-ratelimits-read-chatgpt.json"));
    UsageView expected;
    expected.available = true;
    expected.authenticationMode = "chatgpt";
    expected.planType = "plus";
    expected.creditBalance = "12.50";
    expected.windows = {{"Primary window", 42.0, 58.0, DateFormatting::iso(test::at(1796601462)), 300},
                        {"Secondary window", 7.0, 93.0, DateFormatting::iso(test::at(1796943462)), 10080}};
    expected.completedToday = 0;
    expected.failedToday = 0;
    expected.activitySecondsToday = 0;
    expected.updatedAt = DateFormatting::iso(now);
    EXPECT_EQ(view, expected);
}

TEST(UsageSamples, LoggedOutAndSharingOff)
{
    // A logged-out App Server answers the rate-limit read with an error: no result at all.
    const auto loggedOut = usageOf(sampleResult("account-read.json"), sampleResult("account-ratelimits-read.json"));
    EXPECT_EQ(loggedOut.authenticationMode, "unknown");
    EXPECT_FALSE(loggedOut.available);
    EXPECT_EQ(loggedOut.unavailableReason, "The installed App Server or account did not return rate limits.");
    EXPECT_FALSE(loggedOut.completedToday);

    const auto off = usageOf(sampleResult("account-read-apikey.json"),
                             sampleResult("account-ratelimits-read-chatgpt.json"), {}, false);
    UsageView expected;
    expected.unavailableReason = "Usage sharing is disabled.";
    expected.authenticationMode = "api_key";
    expected.updatedAt = DateFormatting::iso(now);
    EXPECT_EQ(off, expected);
}

struct WindowCase {
    const char *name;
    const char *window;
    UsageWindow expected;
};

class UsageWindows : public testing::TestWithParam<WindowCase> {};

TEST_P(UsageWindows, PercentagesResetAndLength)
{
    const auto rateLimits = json(std::string(R"({"rateLimits":{"primary":)") + GetParam().window + "}}");
    const auto view = usageOf(json("null"), rateLimits);
    ASSERT_EQ(view.windows.size(), 1u);
    EXPECT_EQ(view.windows[0], GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, UsageWindows,
    testing::Values(
        WindowCase{"Fraction", R"({"usedPercent":12.5})", {"Primary window", 12.5, 87.5, {}, {}}},
        WindowCase{"OverHundredNotClamped", R"({"usedPercent":130})", {"Primary window", 130.0, 0.0, {}, {}}},
        WindowCase{"BelowZero", R"({"usedPercent":-5})", {"Primary window", -5.0, 100.0, {}, {}}},
        WindowCase{"AllKeysMissing", R"({})", {"Primary window", {}, {}, {}, {}}},
        WindowCase{"WrongTypes", R"({"usedPercent":"42","resetsAt":"soon","windowDurationMins":[300]})",
                   {"Primary window", {}, {}, {}, {}}},
        WindowCase{"FractionalResetAndLength", R"({"resetsAt":1796601462.5,"windowDurationMins":90.9})",
                   {"Primary window", {}, {}, "2026-12-06T23:57:42.500Z", 90}},
        WindowCase{"LengthBeyondInt64", R"({"windowDurationMins":1e19})", {"Primary window", {}, {}, {}, {}}},
        WindowCase{"ResetBeyondTheClock", R"({"resetsAt":1e300})", {"Primary window", {}, {}, {}, {}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(UsageWindows, OnlySecondaryOrNoneAndPlanPrecedence)
{
    const auto account = json(R"({"account":{"type":"chatgpt","planType":"pro"}})");
    const auto secondaryOnly = usageOf(account, json(R"({"rateLimits":{"primary":null,"secondary":{"usedPercent":1}}})"));
    ASSERT_EQ(secondaryOnly.windows.size(), 1u);
    EXPECT_EQ(secondaryOnly.windows[0].label, "Secondary window");
    EXPECT_TRUE(secondaryOnly.available);
    EXPECT_FALSE(secondaryOnly.unavailableReason);
    EXPECT_EQ(secondaryOnly.planType, "pro");

    const auto none = usageOf(account, json(R"({"rateLimits":{"planType":"plus","credits":{"balance":12.5}}})"));
    EXPECT_FALSE(none.available);
    EXPECT_EQ(none.unavailableReason, "No official usage windows were returned.");
    EXPECT_EQ(none.planType, "plus");
    EXPECT_FALSE(none.creditBalance);
    EXPECT_EQ(none.completedToday, 0);
    EXPECT_EQ(none.failedToday, 0);
    EXPECT_EQ(none.activitySecondsToday, 0);
}

ThreadView threadAt(const std::string &updatedAt, ThreadState status, std::optional<std::int64_t> duration)
{
    ThreadView view;
    view.updatedAt = updatedAt;
    view.status = status;
    view.durationSeconds = duration;
    return view;
}

// Just after midnight in UTC+2: 22:57:40 UTC on 6 December is 00:57:40 on 7 December.
std::chrono::sys_days dayInUtcPlus2(std::chrono::system_clock::time_point moment)
{
    return std::chrono::floor<std::chrono::days>(moment + std::chrono::hours(2));
}

struct TodayTotals {
    std::optional<std::int64_t> completed, failed, seconds;
    friend bool operator==(const TodayTotals &, const TodayTotals &) = default;
};

TodayTotals todayTotals(const UsageView &view)
{
    return {view.completedToday, view.failedToday, view.activitySecondsToday};
}

TEST(UsageToday, CountsThreadsUpdatedOnTheLocalDay)
{
    const std::vector<ThreadView> threads{
        threadAt("2026-12-06T22:30:00.000Z", ThreadState::finished, 90),    // 7 Dec 00:30 local
        threadAt("2026-12-06T21:59:59.999Z", ThreadState::failed, 40),      // 6 Dec 23:59 local
        threadAt("2026-12-06T22:00:00.000Z", ThreadState::failed, {}),      // 7 Dec 00:00 local
        threadAt("2026-12-06T22:50:00.000Z", ThreadState::testing, 15),
        threadAt("yesterday", ThreadState::finished, 1000)};
    const auto rateLimits = json(R"({"rateLimits":{}})");

    const auto local = CodexNormalizer::usage(json("null"), rateLimits, threads, true, now, dayInUtcPlus2);
    EXPECT_EQ(todayTotals(local), (TodayTotals{1, 1, 105}));

    const auto utc = usageOf(json("null"), rateLimits, threads);
    EXPECT_EQ(todayTotals(utc), (TodayTotals{1, 2, 145}));
}

TEST(UsageToday, SystemLocalDayFollowsTheTimeZone)
{
    const char *previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    // POSIX offsets are west-positive: this zone is UTC+2 and needs no time zone database.
    setenv("TZ", "ORV-2", 1);
    tzset();
    const auto lateEvening = test::at(1796594399); // 2026-12-06T21:59:59Z
    EXPECT_EQ(CodexNormalizer::systemLocalDay(lateEvening), dayInUtcPlus2(lateEvening));
    EXPECT_EQ(CodexNormalizer::systemLocalDay(now), dayInUtcPlus2(now));
    EXPECT_NE(CodexNormalizer::systemLocalDay(lateEvening), CodexNormalizer::systemLocalDay(now));
    if (previous)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(UsageJson, ReservedTokenFieldsNeverAppear)
{
    const auto view = usageOf(sampleResult("account-read-chatgpt.json"),
                              sampleResult("account-ratelimits-read-chatgpt.json"));
    const auto encoded = encode(view);
    for (const char *key : {"inputTokensToday", "outputTokensToday", "cachedInputTokensToday", "contextTokens",
                            "contextWindow"})
        EXPECT_EQ(encoded.find(key), std::string::npos) << key;
}

} // namespace
} // namespace orvane
