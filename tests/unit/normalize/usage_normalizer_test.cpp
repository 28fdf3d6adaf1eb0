#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <tuple>

#include "model/date_formatting.h"
#include "normalize/codex_normalizer.h"
#include "normalizer_fixtures.h"

namespace orvane {
namespace {

using boost::json::parse;
using test::sampleResult;

const auto now = test::at(1796597860); // 2026-12-06T22:57:40Z, 00:57:40 on 7 December in UTC+2
const std::string nowText = DateFormatting::iso(now);

std::chrono::sys_days utcDay(std::chrono::system_clock::time_point moment)
{
    return std::chrono::floor<std::chrono::days>(moment);
}

std::chrono::sys_days dayInUtcPlus2(std::chrono::system_clock::time_point moment)
{
    return utcDay(moment + std::chrono::hours(2));
}

UsageView usage(const boost::json::value &account, const boost::json::value &rateLimits, bool enabled = true)
{
    return CodexNormalizer::usage(account, rateLimits, {}, enabled, now, utcDay);
}

TEST(UsageNormalizer, RealAnswers)
{
    const auto plus = usage(sampleResult("account-read-chatgpt.json"), sampleResult("account-ratelimits-read-chatgpt.json"));
    EXPECT_EQ(plus, (UsageView{.available = true, .authenticationMode = "chatgpt", .planType = "plus",
                               .creditBalance = "12.50",
                               .windows = {{"Primary window", 42.0, 58.0, DateFormatting::iso(test::at(1796601462)), 300},
                                           {"Secondary window", 7.0, 93.0, DateFormatting::iso(test::at(1796943462)),
                                            10080}},
                               .completedToday = 0, .failedToday = 0, .activitySecondsToday = 0, .updatedAt = nowText}));
    for (const char *reserved : {"inputTokensToday", "outputTokensToday", "cachedInputTokensToday", "contextTokens"})
        EXPECT_EQ(encode(plus).find(reserved), std::string::npos) << reserved;
    // A logged-out App Server answers the rate-limit read with an error: no result at all.
    EXPECT_EQ(usage(sampleResult("account-read.json"), sampleResult("account-ratelimits-read.json")),
              (UsageView{.unavailableReason = "The installed App Server or account did not return rate limits.",
                         .authenticationMode = "unknown", .updatedAt = nowText}));
    EXPECT_EQ(usage(sampleResult("account-read-apikey.json"), sampleResult("account-ratelimits-read-chatgpt.json"), false),
              (UsageView{.unavailableReason = "Usage sharing is disabled.", .authenticationMode = "api_key",
                         .updatedAt = nowText}));
}

TEST(UsageNormalizer, WindowsAndPlan)
{
    const auto account = parse(R"({"account":{"type":"chatgpt","planType":"pro"}})");
    const std::pair<std::string, UsageWindow> rows[] = {
        {R"({"usedPercent":12.5})", {"Primary window", 12.5, 87.5, {}, {}}},
        {R"({"usedPercent":130})", {"Primary window", 130.0, 0.0, {}, {}}},
        {R"({"usedPercent":-5})", {"Primary window", -5.0, 100.0, {}, {}}},
        {R"({"usedPercent":"42","resetsAt":"soon","windowDurationMins":[300]})", {"Primary window", {}, {}, {}, {}}},
        {R"({"resetsAt":1796601462.5,"windowDurationMins":90.9})", {"Primary window", {}, {}, "2026-12-06T23:57:42.500Z", 90}},
        {R"({"windowDurationMins":1e19,"resetsAt":1e300})", {"Primary window", {}, {}, {}, {}}},
        {"null", {"Secondary window", 1.0, 99.0, {}, {}}},
    };
    for (const auto &[primary, expected] : rows) {
        const auto view = usage(account, parse(R"({"rateLimits":{"secondary":{"usedPercent":1},"primary":)" + primary + "}}"));
        EXPECT_EQ(view.windows.front(), expected) << primary;
        EXPECT_EQ(std::tie(view.available, view.unavailableReason, view.planType), std::tuple(true, std::nullopt, "pro"));
    }
    const auto none = usage(account, parse(R"({"rateLimits":{"planType":"plus","credits":{"balance":12.5}}})"));
    EXPECT_EQ(std::tie(none.available, none.unavailableReason, none.planType, none.creditBalance, none.completedToday),
              std::tuple(false, "No official usage windows were returned.", "plus", std::nullopt, 0));
}

TEST(UsageNormalizer, TodayCountsThreadsUpdatedOnTheLocalDay)
{
    const auto thread = [](std::string updatedAt, ThreadState status, std::optional<std::int64_t> duration) {
        return ThreadView{.status = status, .updatedAt = std::move(updatedAt), .durationSeconds = duration};
    };
    const std::vector<ThreadView> threads{
        thread("2026-12-06T22:30:00.000Z", ThreadState::finished, 90), // 7 December 00:30 in UTC+2
        thread("2026-12-06T21:59:59.999Z", ThreadState::failed, 40),   // 6 December 23:59 in UTC+2
        thread("2026-12-06T22:00:00.000Z", ThreadState::failed, {}),
        thread("2026-12-06T22:50:00.000Z", ThreadState::testing, 15), thread("yesterday", ThreadState::finished, 1000)};
    const auto totals = [&](const CodexNormalizer::LocalDay &day) {
        const auto view = CodexNormalizer::usage(nullptr, parse(R"({"rateLimits":{}})"), threads, true, now, day);
        return std::tuple(view.completedToday, view.failedToday, view.activitySecondsToday);
    };
    EXPECT_EQ(totals(dayInUtcPlus2), std::tuple(1, 1, 105));
    EXPECT_EQ(totals(utcDay), std::tuple(1, 2, 145));

    // POSIX offsets are west-positive: this zone is UTC+2 and needs no time zone database.
    const char *previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    setenv("TZ", "ORV-2", 1);
    tzset();
    const auto lateEvening = test::at(1796594399); // 2026-12-06T21:59:59Z
    const auto days = std::pair(CodexNormalizer::systemLocalDay(lateEvening), CodexNormalizer::systemLocalDay(now));
    previous ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
    EXPECT_EQ(days, std::pair(dayInUtcPlus2(lateEvening), dayInUtcPlus2(now)));
    EXPECT_NE(days.first, days.second);
}

} // namespace
} // namespace orvane
