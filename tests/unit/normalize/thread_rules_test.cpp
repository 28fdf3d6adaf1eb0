#include <gtest/gtest.h>

#include <limits>

#include "normalize/thread_rules.h"
#include "normalizer_fixtures.h"

namespace orvane {
namespace {

using namespace CodexNormalizer::ThreadRules;
using test::command;
using test::json;

TEST(ThreadRules, DeriveStateFromThreadStatusTurnAndLastItem)
{
    using enum ThreadState;
    const struct {
        const char *threadStatus, *turn; // JSON, or "" for none
        const char *commandLine;         // "": none; else the turn runs it now
        ThreadState expected;
    } rows[] = {
        {"", "", "", unknown}, {"", R"({"status":3})", "", unknown}, {"", R"({"status":"cancelled"})", "", unknown},
        {"", R"({"status":"completed"})", "", finished}, {"", R"({"status":"failed"})", "", failed},
        {"", R"({"status":"interrupted","completedAt":1796597852})", "", stopped},
        {"", R"({"status":"interrupted","completedAt":null})", "", unknown},
        {R"({"type":"systemError"})", R"({"status":"completed"})", "", failed},
        {R"({"type":"active","activeFlags":["waitingOnApproval"]})", R"({"status":"completed"})", "", waitingForApproval},
        {R"({"type":"active","activeFlags":["waitingOnUserInput","waitingOnApproval"]})", "", "", waitingForApproval},
        {R"({"type":"active","activeFlags":[7,"waitingOnUserInput"]})", R"({"status":"inProgress"})", "", waitingForUser},
        {R"({"type":"active","activeFlags":[]})", R"({"status":"inProgress"})", "", thinking},
        {"", R"({"status":"inProgress","items":[{"type":"userMessage"},{"type":"fileChange"}]})", "", editing},
        {"", R"({"status":"inProgress","items":[{"type":"webSearch"}]})", "", reading},
        {"", R"({"status":"inProgress","items":[{"type":"imageView"}]})", "", reading},
        {"", R"({"status":"inProgress","items":[{"type":"reasoning"}]})", "", thinking},
        {"", R"({"status":"inProgress","items":[{"type":"fileChange"},1]})", "", thinking},
        {"", R"({"status":"inProgress","items":[{"type":"commandExecution"}]})", "", thinking},
        {"", "", "npm test", testing}, {"", "", "/bin/bash -lc 'npm test'", testing}, {"", "", "NPM TEST", testing},
        {"", "", "cargo build", building}, {"", "", "/bin/bash -lc \"cargo build --release\"", building},
        {"", "", "xcodebuild test -scheme App", testing}, {"", "", "/bin/bash -lc 'ls -la'", thinking},
        {"", "", "npm run test:unit", thinking}, {"", "", "git log latest", thinking},
    };
    for (const auto &row : rows) {
        boost::json::object thread{{"id", "t"}};
        if (*row.threadStatus)
            thread["status"] = json(row.threadStatus);
        boost::json::value turn;
        if (*row.turn)
            turn = json(row.turn);
        else if (*row.commandLine)
            turn = {{"status", "inProgress"}, {"items", {command(row.commandLine, "inProgress")}}};
        EXPECT_EQ(deriveState(thread, turn.if_object()), row.expected)
            << row.threadStatus << " " << row.turn << " " << row.commandLine;
    }
}

TEST(ThreadRules, LatestMatchingCommandDecidesChecks)
{
    const std::pair<boost::json::array, CheckView> rows[] = {
        {{{{"type", "fileChange"}}}, {"unavailable", "unavailable"}},
        {{command("npm test"), command("/bin/bash -lc 'npm test'", "failed")}, {"failed", "unavailable"}},
        {{command("pytest -q"), command("/bin/bash -lc \"cargo build\"", "inProgress")}, {"passed", "running"}},
        {{command("cargo build", "declined"), command("swift build", "")}, {"unavailable", "failed"}},
        {{{{"type", "commandExecution"}, {"command", "jest"}}}, {"failed", "unavailable"}},
        {{command("xcodebuild test")}, {"passed", "passed"}},
        {{command("npm test", "failed"), command("ls -la")}, {"failed", "unavailable"}},
        {{{{"type", "dynamicToolCall"}, {"command", "npm test"}, {"status", "completed"}}}, {"unavailable", "unavailable"}},
    };
    for (const auto &[items, expected] : rows)
        EXPECT_EQ(checkSummary(items), expected) << boost::json::serialize(items);
}

TEST(ThreadRules, DurationInWholeSecondsNeverBelowZero)
{
    const auto now = test::at(1796597860);
    const std::pair<const char *, std::optional<std::int64_t>> rows[] = {
        {R"({"status":"completed","durationMs":1999})", 1}, {R"({"status":"completed","durationMs":2999.9})", 2},
        {R"({"status":"completed","durationMs":4000,"startedAt":1796597800,"completedAt":1796597850})", 4},
        {R"({"status":"interrupted","startedAt":1796597800.5,"completedAt":1796597813.4})", 12},
        {R"({"status":"inProgress","startedAt":1796597849.3})", 10}, {R"({"status":"inProgress","startedAt":1796597900})", 0},
        {R"({"status":"completed","durationMs":-1500})", 0}, {R"({"status":"interrupted","startedAt":1796597800})", {}},
        {R"({"status":"interrupted","startedAt":1796597859,"completedAt":null,"durationMs":null})", {}},
        {R"({"status":"completed","durationMs":"1999"})", {}}, {R"({"status":"completed","durationMs":1e300})", {}},
        {R"({"status":"completed","durationMs":1e22})", {}},
    };
    for (const auto &[turn, expected] : rows)
        EXPECT_EQ(durationSeconds(json(turn).as_object(), now), expected) << turn;
    for (const double bad : {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_FALSE(durationSeconds({{"status", "completed"}, {"durationMs", bad}}, now));
        EXPECT_FALSE(durationSeconds({{"status", "inProgress"}, {"startedAt", -bad}}, now));
    }
}

} // namespace
} // namespace orvane
