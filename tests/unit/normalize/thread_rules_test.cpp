#include <gtest/gtest.h>

#include <limits>

#include "normalize/thread_rules.h"
#include "normalizer_fixtures.h"

namespace orvane {
namespace {

using CodexNormalizer::ThreadRules::checkSummary;
using CodexNormalizer::ThreadRules::deriveState;
using CodexNormalizer::ThreadRules::durationSeconds;
using test::json;

struct StateCase {
    const char *name;
    const char *threadStatus; // JSON, or null for none
    const char *turn;         // JSON, or null for no turn
    ThreadState expected;
};

class DeriveState : public testing::TestWithParam<StateCase> {};

TEST_P(DeriveState, FromThreadStatusTurnAndLastItem)
{
    const auto &row = GetParam();
    boost::json::object thread{{"id", "t"}};
    if (row.threadStatus)
        thread["status"] = json(row.threadStatus);
    const auto turn = row.turn ? json(row.turn) : boost::json::value();
    EXPECT_EQ(deriveState(thread, turn.if_object()), row.expected);
}

std::string inProgressWithCommand(const std::string &commandLine)
{
    boost::json::object turn{{"status", "inProgress"},
                             {"items", boost::json::array{test::command(commandLine, "inProgress")}}};
    return boost::json::serialize(turn);
}

const std::string npmTest = inProgressWithCommand("npm test");
const std::string wrappedNpmTest = inProgressWithCommand("/bin/bash -lc 'npm test'");
const std::string wrappedCargoBuild = inProgressWithCommand("/bin/bash -lc \"cargo build --release\"");
const std::string cargoBuild = inProgressWithCommand("cargo build");
const std::string listing = inProgressWithCommand("/bin/bash -lc 'ls -la'");
const std::string xcodebuildTest = inProgressWithCommand("xcodebuild test -scheme App");
const std::string upperCaseTest = inProgressWithCommand("NPM TEST");
const std::string scriptNamedTest = inProgressWithCommand("npm run test:unit");
const std::string latest = inProgressWithCommand("git log latest");

INSTANTIATE_TEST_SUITE_P(
    Rules, DeriveState,
    testing::Values(
        StateCase{"NoTurn", nullptr, nullptr, ThreadState::unknown},
        StateCase{"EmptyTurn", nullptr, "{}", ThreadState::unknown},
        StateCase{"StatusNotText", nullptr, R"({"status":3})", ThreadState::unknown},
        StateCase{"Completed", nullptr, R"({"status":"completed"})", ThreadState::finished},
        StateCase{"Failed", nullptr, R"({"status":"failed"})", ThreadState::failed},
        StateCase{"StoppedWithEnd", nullptr, R"({"status":"interrupted","completedAt":1796597852})",
                  ThreadState::stopped},
        StateCase{"InterruptedWithoutEnd", nullptr, R"({"status":"interrupted","completedAt":null})",
                  ThreadState::unknown},
        StateCase{"UnlistedTurnStatus", nullptr, R"({"status":"cancelled"})", ThreadState::unknown},
        StateCase{"SystemErrorBeatsTurn", R"({"type":"systemError"})", R"({"status":"completed"})",
                  ThreadState::failed},
        StateCase{"ApprovalBeatsTurn", R"({"type":"active","activeFlags":["waitingOnApproval"]})",
                  R"({"status":"completed"})", ThreadState::waitingForApproval},
        StateCase{"ApprovalBeatsQuestion",
                  R"({"type":"active","activeFlags":["waitingOnUserInput","waitingOnApproval"]})",
                  nullptr, ThreadState::waitingForApproval},
        StateCase{"Question", R"({"type":"active","activeFlags":[7,"waitingOnUserInput"]})",
                  R"({"status":"inProgress"})", ThreadState::waitingForUser},
        StateCase{"ActiveWithoutFlags", R"({"type":"active","activeFlags":[]})",
                  R"({"status":"inProgress"})", ThreadState::thinking},
        StateCase{"LastItemFileChange", nullptr,
                  R"({"status":"inProgress","items":[{"type":"userMessage"},{"type":"fileChange"}]})",
                  ThreadState::editing},
        StateCase{"LastItemWebSearch", nullptr, R"({"status":"inProgress","items":[{"type":"webSearch"}]})",
                  ThreadState::reading},
        StateCase{"LastItemImage", nullptr, R"({"status":"inProgress","items":[{"type":"imageView"}]})",
                  ThreadState::reading},
        StateCase{"LastItemReasoning", nullptr, R"({"status":"inProgress","items":[{"type":"reasoning"}]})",
                  ThreadState::thinking},
        StateCase{"ItemsNotAllObjects", nullptr, R"({"status":"inProgress","items":[{"type":"fileChange"},1]})",
                  ThreadState::thinking},
        StateCase{"CommandWithoutLine", nullptr,
                  R"({"status":"inProgress","items":[{"type":"commandExecution"}]})", ThreadState::thinking},
        StateCase{"PlainTest", nullptr, npmTest.c_str(), ThreadState::testing},
        StateCase{"ShellWrappedTest", nullptr, wrappedNpmTest.c_str(), ThreadState::testing},
        StateCase{"ShellWrappedBuild", nullptr, wrappedCargoBuild.c_str(), ThreadState::building},
        StateCase{"PlainBuild", nullptr, cargoBuild.c_str(), ThreadState::building},
        StateCase{"Listing", nullptr, listing.c_str(), ThreadState::thinking},
        StateCase{"TestBeatsBuild", nullptr, xcodebuildTest.c_str(), ThreadState::testing},
        StateCase{"CaseInsensitive", nullptr, upperCaseTest.c_str(), ThreadState::testing},
        StateCase{"TestInsideAWord", nullptr, scriptNamedTest.c_str(), ThreadState::thinking},
        StateCase{"TestAtAWordsEnd", nullptr, latest.c_str(), ThreadState::thinking}),
    [](const auto &info) { return std::string(info.param.name); });

struct CheckCase {
    const char *name;
    boost::json::array items;
    CheckView expected;
};

class CheckSummary : public testing::TestWithParam<CheckCase> {};

TEST_P(CheckSummary, LatestMatchingCommandDecides)
{
    EXPECT_EQ(checkSummary(GetParam().items), GetParam().expected);
}

using test::command;

INSTANTIATE_TEST_SUITE_P(
    Rules, CheckSummary,
    testing::Values(
        CheckCase{"NoCommands", {{{"type", "fileChange"}}}, {"unavailable", "unavailable"}},
        CheckCase{"LaterTestFails",
                  {command("npm test"), command("/bin/bash -lc 'npm test'", "failed")},
                  {"failed", "unavailable"}},
        CheckCase{"RunningBuildAfterPassedTest",
                  {command("pytest -q"), command("/bin/bash -lc \"cargo build\"", "inProgress")},
                  {"passed", "running"}},
        CheckCase{"UnknownStatusCountsAsFailed",
                  {command("cargo build", "declined"), command("swift build", "")},
                  {"unavailable", "failed"}},
        CheckCase{"MissingStatus",
                  {{{"type", "commandExecution"}, {"command", "jest"}}},
                  {"failed", "unavailable"}},
        CheckCase{"OneCommandMatchesBoth", {command("xcodebuild test")}, {"passed", "passed"}},
        CheckCase{"OtherCommandsLeaveStatus",
                  {command("npm test", "failed"), command("ls -la")},
                  {"failed", "unavailable"}},
        CheckCase{"OnlyCommandExecutionsCount",
                  {{{"type", "dynamicToolCall"}, {"command", "npm test"}, {"status", "completed"}}},
                  {"unavailable", "unavailable"}}),
    [](const auto &info) { return std::string(info.param.name); });

struct DurationCase {
    const char *name;
    const char *turn;
    std::optional<std::int64_t> expected;
};

class TurnDuration : public testing::TestWithParam<DurationCase> {};

TEST_P(TurnDuration, WholeSecondsNeverBelowZero)
{
    const auto turn = json(GetParam().turn);
    EXPECT_EQ(durationSeconds(turn.as_object(), test::at(1796597860)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TurnDuration,
    testing::Values(
        DurationCase{"MillisecondsTruncated", R"({"status":"completed","durationMs":1999})", 1},
        DurationCase{"FractionalMilliseconds", R"({"status":"completed","durationMs":2999.9})", 2},
        DurationCase{"MillisecondsBeatTimes",
                     R"({"status":"completed","durationMs":4000,"startedAt":1796597800,"completedAt":1796597850})",
                     4},
        DurationCase{"EndMinusStart",
                     R"({"status":"interrupted","startedAt":1796597800.5,"completedAt":1796597813.4})", 12},
        DurationCase{"RunningSoFar", R"({"status":"inProgress","startedAt":1796597849.3})", 10},
        DurationCase{"FutureStart", R"({"status":"inProgress","startedAt":1796597900})", 0},
        DurationCase{"NegativeMilliseconds", R"({"status":"completed","durationMs":-1500})", 0},
        DurationCase{"InterruptedWithoutEnd", R"({"status":"interrupted","startedAt":1796597800})",
                     std::nullopt},
        DurationCase{"CrashedSample",
                     R"({"status":"interrupted","startedAt":1796597859,"completedAt":null,"durationMs":null})",
                     std::nullopt},
        DurationCase{"MillisecondsAsText", R"({"status":"completed","durationMs":"1999"})", std::nullopt},
        DurationCase{"BeyondInt64", R"({"status":"completed","durationMs":1e300})", std::nullopt},
        DurationCase{"SecondsBeyondInt64", R"({"status":"completed","durationMs":1e22})", std::nullopt}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TurnDuration, NonFiniteNumbersGiveNoDuration)
{
    for (const double bad : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_FALSE(durationSeconds({{"status", "completed"}, {"durationMs", bad}}, test::at(1796597860)));
        EXPECT_FALSE(durationSeconds({{"status", "inProgress"}, {"startedAt", bad}}, test::at(1796597860)));
    }
}

} // namespace
} // namespace orvane
