#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <limits>
#include <sstream>
#include <tuple>

#include "model/date_formatting.h"
#include "normalize/codex_normalizer.h"
#include "normalize/thread_rules.h"
#include "normalize/unicode_text.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers" // records name only the fields a case sets

namespace orvane {
namespace {

using namespace CodexNormalizer::ThreadRules;
using boost::json::parse;
using Entries = std::vector<TranscriptEntry>;

// A stored App Server answer (codex-cli 0.171.0) or expected record.
boost::json::value fixture(const std::string &name)
{
    std::stringstream text;
    text << std::ifstream(ORVANE_NORMALIZE_FIXTURES "/" + name).rdbuf();
    return parse(text.str());
}

// A table of cases: each case an array whose last element is the expected value.
boost::json::array table(const std::string &name) { return fixture(name).as_array(); }

// The "result" of a stored answer, null for an error answer.
boost::json::value sampleResult(const std::string &name)
{
    const auto answer = fixture(name);
    return answer.as_object().contains("result") ? answer.at("result") : nullptr;
}

std::chrono::sys_seconds at(std::int64_t seconds) { return std::chrono::sys_seconds(std::chrono::seconds(seconds)); }

boost::json::object command(std::string_view line, std::string_view status = "completed")
{
    return {{"type", "commandExecution"}, {"id", "c"}, {"command", line}, {"status", status}};
}

const auto now = at(1796597860); // 2026-12-06T22:57:40Z, 00:57:40 on 7 December in UTC+2
const GitView fixedGit{"main", true, 2, 5, 1, "8f8e7562703b"};
std::vector<std::string> gitCalls; // the paths the last normalize() asked git about

std::optional<CodexNormalizer::NormalizedThreadResult> normalize(const boost::json::value &raw,
                                                                 TranscriptLevel level = TranscriptLevel::messages,
                                                                 SharingSettings settings = {})
{
    gitCalls.clear();
    settings.transcript = level;
    const auto git = [](const std::string &path) { return gitCalls.push_back(path), std::optional(fixedGit); };
    return CodexNormalizer::thread(raw, settings, "gpt-5.5", "medium", now, git);
}

boost::json::value sample(const char *name) { return sampleResult(name).at("thread"); }

boost::json::object withItems(boost::json::array items, std::string_view status = "completed")
{
    return {{"id", "t-1"}, {"updatedAt", 1796597842}, {"turns", {{{"status", status}, {"items", std::move(items)}}}}};
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

TEST(ThreadNormalizer, RealSamples)
{
    // Only the latest turn's commands count: the tests ran in an earlier turn, so checks are unavailable.
    const auto tools = normalize(sample("thread-read-tools.json"), TranscriptLevel::activity).value();
    EXPECT_EQ(boost::json::value_from(tools.view), fixture("thread-view-tools-activity.json"));
    EXPECT_EQ(std::tie(tools.activeTurnID, tools.workspace, gitCalls),
              std::tuple("01a24d93-81ca-7403-8740-c048b8bd6a91", "/home/dev/projects/demo",
                         std::vector<std::string>{"/home/dev/projects/demo"}));

    // Failed; read while running, 10 s after its start; cut off by a crash, so neither stopped nor timed.
    const std::tuple<const char *, ThreadState, std::optional<std::string>, std::optional<std::int64_t>, const char *>
        rows[] = {{"lifecycle", ThreadState::failed, "failure", 0, "01a24d93-a9c4-7443-a7bf-7fb82488cd6d"},
                  {"inprogress", ThreadState::thinking, {}, 10, "01a24d93-a1b1-7b11-9459-f7a322d8949b"},
                  {"crashed", ThreadState::unknown, {}, {}, "01a24d93-c3dd-7e41-ac00-2fefc9c667b1"}};
    for (const auto &[file, status, attention, duration, turn] : rows) {
        const auto result = normalize(sample((std::string("thread-read-") + file + ".json").c_str())).value();
        const auto &v = result.view;
        EXPECT_EQ(std::tie(v.status, v.attentionType, v.requiresAttention, v.durationSeconds, result.activeTurnID),
                  std::tuple(status, attention, attention.has_value(), duration, turn)) << file;
        EXPECT_EQ(v.completedAt.has_value(), status == ThreadState::failed) << file;
        EXPECT_FALSE(v.summary) << file;
    }
}

TEST(ThreadNormalizer, CommandLinesAndWorkspacePathsNeverLeave)
{
    auto raw = withItems({parse(R"({"type":"userMessage","content":[{"type":"text",
                                   "text":"run them in /home/private-user/clients/acme-secret/app/tests"}]})"),
                          command("/bin/bash -lc 'pytest --token=ghp_abcdefghijklmnop1234 tests/'", "inProgress")},
                         "inProgress");
    raw["cwd"] = "/home/private-user/clients/acme-secret/app";
    raw["preview"] = "fix /home/private-user/clients/acme-secret/app/main.py, DB_PASSWORD=Tr0ub4dor&3 fails";
    for (const auto level : {TranscriptLevel::activity, TranscriptLevel::full}) {
        const ThreadView view = normalize(raw, level).value().view;
        EXPECT_EQ(std::tie(view.status, view.checks, view.projectName, view.title),
                  std::tuple(ThreadState::testing, CheckView{"running", "unavailable"}, "app",
                             "fix app/main.py, DB_PASSWORD=[REDACTED] fails"));
        ASSERT_EQ(view.transcript.value_or(Entries{}).size(), 2u);
        EXPECT_EQ(view.transcript->front().text, "run them in app/tests");
        EXPECT_EQ(view.transcript->back().text, "Ran a local command");
        for (const char *secret : {"pytest", "ghp_", "private-user", "acme-secret", "/home", "/bin/bash", "Tr0ub4dor"})
            EXPECT_EQ(encode(view).find(secret), std::string::npos) << secret;
    }
}

TEST(ThreadNormalizer, TranscriptLevelsDecideWhichItemsCount)
{
    const auto raw = withItems({
        parse(R"({"type":"userMessage","id":"u","content":[{"type":"text","text":"first"},{"type":"image"},
                 {"type":"text","text":"second"}]})"),
        parse(R"({"type":"reasoning","id":"r","summary":["hidden thoughts"]})"), command("make", "failed"),
        parse(R"({"type":"mcpToolCall","id":"mcp"})"), parse(R"({"type":"agentMessage","id":"empty","text":""})"),
        parse(R"({"type":"userMessage","id":"bad","content":[{"type":"text","text":"lost"},3]})"),
        parse(R"({"type":"agentMessage","text":"Bearer abcdefghijklmnopqrstuvwxyz done"})")});
    EXPECT_FALSE(normalize(raw, TranscriptLevel::none).value().view.transcript);
    const auto texts = [&](TranscriptLevel level) {
        std::vector<std::string> all;
        for (const auto &entry : normalize(raw, level).value().view.transcript.value_or(Entries{}))
            all.push_back(entry.kind + ": " + entry.text + " " + std::to_string(entry.redactionCount));
        return all;
    };
    const std::vector<std::string> messages{"user: first\nsecond 0", "assistant: [REDACTED] done 1"};
    EXPECT_EQ(texts(TranscriptLevel::messages), messages);
    for (const auto level : {TranscriptLevel::activity, TranscriptLevel::full})
        EXPECT_EQ(texts(level), (std::vector<std::string>{messages[0], "activity: A local command failed 0",
                                                          "activity: Used a connected tool 0", messages[1]}));
    // An item without an id gets a fresh upper-case UUID.
    const std::string freshId = normalize(raw).value().view.transcript.value().back().id;
    EXPECT_EQ(std::pair(freshId.size(), freshId.find_first_of("abcdef")), std::pair(36ul, std::string::npos));
}

TEST(ThreadNormalizer, KeepsTheLast100EntriesAndRedactsAndCutsTheFinalAnswerOnceTheTurnEnds)
{
    const std::string text(5000, 'x'); // within the transcript's limit, beyond the summary's
    const std::string token = "abcdefghijklmnopqrstuvwxyz", secret = "Bearer " + token;
    boost::json::array answers;
    for (int i = 0; i < 150; ++i)
        answers.push_back({{"type", "agentMessage"}, {"id", "m" + std::to_string(i)}, {"text", (i == 149 ? secret + " " : "") + text}});
    const ThreadView view = normalize(withItems(answers)).value().view;
    const auto entries = view.transcript.value_or(Entries{});
    ASSERT_EQ(entries.size(), 100u);
    EXPECT_EQ(std::tie(entries.front().id, entries.back().id), std::tuple("m50", "m149"));
    EXPECT_EQ(entries.front().text.size(), text.size());
    EXPECT_EQ(UnicodeText::graphemeCount(view.summary.value_or("")), 1998u);
    EXPECT_TRUE(view.summary.value_or("").starts_with("[REDACTED] xxx"));
    EXPECT_TRUE(view.summary.value_or("").ends_with("\u2026 [TRUNCATED]"));
    EXPECT_EQ(encode(view).find(token), std::string::npos);
    EXPECT_FALSE(normalize(withItems(answers, "inProgress")).value().view.summary);
}

TEST(ThreadNormalizer, EveryChoiceOffLeavesOnlyTheRequiredFields)
{
    const SharingSettings off{false, false, false, false, false, false, false, false, TranscriptLevel::none};
    const auto result = normalize(sample("thread-read-tools.json"), TranscriptLevel::none, off).value();
    EXPECT_EQ(boost::json::value_from(result.view),
              parse(R"({"id":"01a24d93-77c0-7822-860c-8f7b9b2ad6d6","title":"Codex task","status":"finished",
                        "updatedAt":"2026-12-06T22:57:22.000Z","requiresAttention":false,
                        "transcriptAvailability":"none","cancellationSupported":true})"));
    EXPECT_EQ(std::tie(result.workspace, gitCalls), std::tuple("/home/dev/projects/demo", std::vector<std::string>{}));
}

TEST(ThreadNormalizer, TitleIsNameThenPreviewThenNeutralRedactedAndCutAt500Characters)
{
    std::string accented;
    for (int i = 0; i < 600; ++i)
        accented += "e\u0301"; // one character of two code points and three bytes
    auto rows = table("thread-titles.json");
    rows.push_back({{{"name", accented}}, accented.substr(0, 485 * 3) + "\u2026 [TRUNCATED]"});
    for (const auto &row : rows) {
        auto raw = row.at(0).as_object();
        raw.insert({{"id", "t"}, {"updatedAt", 1}});
        EXPECT_EQ(normalize(raw).value().view.title, row.at(1).as_string()) << row.at(0);
    }
}

TEST(ThreadNormalizer, IdentityUpdateTimeAndLatestTurn)
{
    for (const char *raw : {R"({"updatedAt":1796597842})", R"({"id":7,"updatedAt":1796597842})", R"({"id":"t"})",
                            R"({"id":"t","updatedAt":"1796597842"})", R"({"id":"t","updatedAt":1e300})", R"(["id"])"})
        EXPECT_FALSE(normalize(parse(raw))) << raw;

    const auto noTurns = normalize(parse(R"({"id":"t","updatedAt":1796597842.25,"turns":"none"})")).value();
    EXPECT_EQ(std::tie(noTurns.view.status, noTurns.view.updatedAt, noTurns.view.transcript, noTurns.activeTurnID),
              std::tuple(ThreadState::unknown, "2026-12-06T22:57:22.250Z", Entries{}, std::nullopt));
    EXPECT_FALSE(noTurns.view.durationSeconds || noTurns.view.summary);

    // The greatest start wins, the first of equals; a missing start counts as zero.
    const auto latest = normalize(parse(R"({"id":"t","updatedAt":1,"turns":[{"id":"no-start","status":"failed"},
        {"id":"first-late","status":"completed","startedAt":200},{"id":"early","status":"failed","startedAt":100},
        {"id":"second-late","status":"failed","startedAt":200.0}]})")).value();
    EXPECT_EQ(std::tie(latest.activeTurnID, latest.view.status), std::tuple("first-late", ThreadState::finished));
}

using std::chrono::system_clock;

const std::string nowText = DateFormatting::iso(now);
const auto utcDay = [](system_clock::time_point moment) { return std::chrono::floor<std::chrono::days>(moment); };
const auto dayInUtcPlus2 = [](system_clock::time_point moment) { return utcDay(moment + std::chrono::hours(2)); };

UsageView usage(const boost::json::value &account, const boost::json::value &rateLimits, bool enabled = true)
{
    return CodexNormalizer::usage(account, rateLimits, {}, enabled, now, utcDay);
}

TEST(UsageNormalizer, RealAnswers)
{
    const auto answer = [](const char *name) { return sampleResult(std::string(name) + ".json"); };
    const std::string firstReset = DateFormatting::iso(at(1796601462));
    const std::string secondReset = DateFormatting::iso(at(1796943462));
    EXPECT_EQ(usage(answer("account-read-chatgpt"), answer("account-ratelimits-read-chatgpt")),
              (UsageView{.available = true, .authenticationMode = "chatgpt", .planType = "plus",
                         .creditBalance = "12.50",
                         .windows = {{"Primary window", 42.0, 58.0, firstReset, 300},
                                     {"Secondary window", 7.0, 93.0, secondReset, 10080}},
                         .completedToday = 0, .failedToday = 0, .activitySecondsToday = 0, .updatedAt = nowText}));
    // A logged-out App Server answers the rate-limit read with an error: no result at all.
    EXPECT_EQ(usage(answer("account-read"), answer("account-ratelimits-read")),
              (UsageView{.unavailableReason = "The installed App Server or account did not return rate limits.",
                         .authenticationMode = "unknown", .updatedAt = nowText}));
    EXPECT_EQ(usage(answer("account-read-apikey"), answer("account-ratelimits-read-chatgpt"), false),
              (UsageView{.unavailableReason = "Usage sharing is disabled.", .authenticationMode = "api_key",
                         .updatedAt = nowText}));
}

TEST(UsageNormalizer, WindowsAndPlan)
{
    const auto account = parse(R"({"account":{"type":"chatgpt","planType":"pro"}})");
    const std::string limits = R"({"rateLimits":{"secondary":{"usedPercent":1},"primary":)";
    for (const auto &row : table("usage-windows.json")) {
        const auto view = usage(account, parse(limits + boost::json::serialize(row.at(0)) + "}}"));
        EXPECT_EQ(view.windows.front(), decode<UsageWindow>(row.at(1))) << row;
        EXPECT_EQ(std::tie(view.available, view.unavailableReason, view.planType),
                  std::tuple(true, std::nullopt, "pro"));
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
    setenv("TZ", "ORV-2", 1);
    tzset();
    const auto lateEvening = at(1796594399); // 2026-12-06T21:59:59Z
    const auto days = std::pair(CodexNormalizer::systemLocalDay(lateEvening), CodexNormalizer::systemLocalDay(now));
    unsetenv("TZ");
    tzset();
    EXPECT_EQ(days, std::pair(dayInUtcPlus2(lateEvening), dayInUtcPlus2(now)));
    EXPECT_NE(days.first, days.second);
}

} // namespace
} // namespace orvane
