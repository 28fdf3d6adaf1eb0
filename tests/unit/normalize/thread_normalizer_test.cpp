#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "model/date_formatting.h"
#include "normalize/codex_normalizer.h"
#include "normalize/thread_rules.h"
#include "normalize/unicode_text.h"
#include "normalizer_fixtures.h"

namespace orvane {
namespace {

using namespace CodexNormalizer::ThreadRules;
using boost::json::parse;
using test::command;
using Entries = std::vector<TranscriptEntry>;

const auto now = test::at(1796597860);
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

boost::json::value sample(const char *name)
{
    return test::sampleResult(name).at("thread");
}

boost::json::object withItems(boost::json::array items, std::string_view status = "completed")
{
    return {{"id", "t-1"}, {"updatedAt", 1796597842}, {"turns", {{{"status", status}, {"items", std::move(items)}}}}};
}

TEST(ThreadRules, DeriveStateFromThreadStatusTurnAndLastItem)
{
    using enum ThreadState;
    const std::tuple<const char *, const char *, ThreadState> rows[] = { // thread status, latest turn ("": none)
        {"", "", unknown}, {"", R"({"status":3})", unknown}, {"", R"({"status":"cancelled"})", unknown},
        {"", R"({"status":"completed"})", finished}, {"", R"({"status":"failed"})", failed},
        {"", R"({"status":"interrupted","completedAt":1796597852})", stopped},
        {"", R"({"status":"interrupted","completedAt":null})", unknown},
        {R"({"type":"systemError"})", R"({"status":"completed"})", failed},
        {R"({"type":"active","activeFlags":["waitingOnApproval"]})", R"({"status":"completed"})", waitingForApproval},
        {R"({"type":"active","activeFlags":["waitingOnUserInput","waitingOnApproval"]})", "", waitingForApproval},
        {R"({"type":"active","activeFlags":[7,"waitingOnUserInput"]})", R"({"status":"inProgress"})", waitingForUser},
        {R"({"type":"active","activeFlags":[]})", R"({"status":"inProgress"})", thinking},
        {"", R"({"status":"inProgress","items":[{"type":"userMessage"},{"type":"fileChange"}]})", editing},
        {"", R"({"status":"inProgress","items":[{"type":"webSearch"}]})", reading},
        {"", R"({"status":"inProgress","items":[{"type":"imageView"}]})", reading},
        {"", R"({"status":"inProgress","items":[{"type":"fileChange"},1]})", thinking},
        {"", R"({"status":"inProgress","items":[{"type":"commandExecution"}]})", thinking}};
    for (const auto &[status, turn, expected] : rows) {
        boost::json::object thread{{"id", "t"}};
        if (*status)
            thread["status"] = parse(status);
        const auto latest = *turn ? parse(turn) : boost::json::value();
        EXPECT_EQ(deriveState(thread, latest.if_object()), expected) << status << " " << turn;
    }
    const std::pair<const char *, ThreadState> commands[] = {
        {"npm test", testing}, {"/bin/bash -lc 'npm test'", testing}, {"NPM TEST", testing}, {"cargo build", building},
        {"/bin/bash -lc \"cargo build --release\"", building}, {"xcodebuild test -scheme App", testing},
        {"npm run test:unit", thinking}, {"git log latest", thinking}};
    for (const auto &[line, expected] : commands) {
        const boost::json::object turn{{"status", "inProgress"}, {"items", {command(line, "inProgress")}}};
        EXPECT_EQ(deriveState({{"id", "t"}}, &turn), expected) << line;
    }
}

TEST(ThreadRules, LatestMatchingCommandDecidesChecks)
{
    const std::pair<boost::json::array, CheckView> rows[] = {
        {{{{"type", "fileChange"}}}, {"unavailable", "unavailable"}}, {{command("xcodebuild test")}, {"passed", "passed"}},
        {{command("npm test"), command("/bin/bash -lc 'npm test'", "failed")}, {"failed", "unavailable"}},
        {{command("pytest -q"), command("/bin/bash -lc \"cargo build\"", "inProgress")}, {"passed", "running"}},
        {{command("cargo build", "declined"), command("swift build", "")}, {"unavailable", "failed"}},
        {{{{"type", "commandExecution"}, {"command", "jest"}}}, {"failed", "unavailable"}},
        {{command("npm test", "failed"), command("ls -la")}, {"failed", "unavailable"}},
        {{{{"type", "dynamicToolCall"}, {"command", "npm test"}, {"status", "completed"}}}, {"unavailable", "unavailable"}},
    };
    for (const auto &[items, expected] : rows)
        EXPECT_EQ(checkSummary(items), expected) << boost::json::serialize(items);
}

TEST(ThreadRules, DurationInWholeSecondsNeverBelowZero)
{
    const std::pair<const char *, std::optional<std::int64_t>> rows[] = {
        {R"({"status":"completed","durationMs":1999})", 1}, {R"({"status":"completed","durationMs":-1500})", 0},
        {R"({"status":"completed","durationMs":4000,"startedAt":1796597800,"completedAt":1796597850})", 4},
        {R"({"status":"interrupted","startedAt":1796597800.5,"completedAt":1796597813.4})", 12},
        {R"({"status":"inProgress","startedAt":1796597849.3})", 10}, {R"({"status":"inProgress","startedAt":1796597900})", 0},
        {R"({"status":"interrupted","startedAt":1796597800,"completedAt":null})", {}},
        {R"({"status":"completed","durationMs":"1999"})", {}}, {R"({"status":"completed","durationMs":1e300})", {}},
        {R"({"status":"completed","durationMs":1e22})", {}},
    };
    for (const auto &[turn, expected] : rows)
        EXPECT_EQ(durationSeconds(parse(turn).as_object(), now), expected) << turn;
    for (const double bad : {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()})
        EXPECT_FALSE(durationSeconds({{"status", "completed"}, {"durationMs", bad}}, now) ||
                     durationSeconds({{"status", "inProgress"}, {"startedAt", -bad}}, now));
}

TEST(ThreadNormalizer, RealSamples)
{
    // Only the latest turn's commands count: the tests ran in an earlier turn, so checks are unavailable.
    const auto tools = normalize(sample("thread-read-tools.json"), TranscriptLevel::activity).value();
    EXPECT_EQ(boost::json::value_from(tools.view), test::fixture("thread-view-tools-activity.json"));
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
        EXPECT_EQ(std::pair(v.completedAt.has_value(), v.summary.has_value()), std::pair(status == ThreadState::failed, false));
    }
}

TEST(ThreadNormalizer, CommandLinesAndWorkspacePathsNeverLeave)
{
    auto raw = withItems({parse(R"({"type":"userMessage","content":[{"type":"text","text":"run them"}]})"),
                          command("/bin/bash -lc 'pytest --token=ghp_abcdefghijklmnop1234 tests/'", "inProgress")},
                         "inProgress");
    raw["cwd"] = "/home/private-user/clients/acme-secret/app";
    for (const auto level : {TranscriptLevel::activity, TranscriptLevel::full}) {
        const ThreadView view = normalize(raw, level).value().view;
        EXPECT_EQ(std::tie(view.status, view.checks, view.projectName),
                  std::tuple(ThreadState::testing, CheckView{"running", "unavailable"}, "app"));
        ASSERT_EQ(view.transcript.value_or(Entries{}).size(), 2u);
        EXPECT_EQ(view.transcript->back().text, "Ran a local command");
        for (const char *secret : {"pytest", "ghp_", "private-user", "acme-secret", "/home", "/bin/bash"})
            EXPECT_EQ(encode(view).find(secret), std::string::npos) << secret;
    }
    const auto full = normalize(sample("thread-read-tools.json"), TranscriptLevel::full).value();
    EXPECT_EQ(encode(full.view).find("/home/dev"), std::string::npos);
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

    boost::json::array many;
    for (int i = 0; i < 150; ++i)
        many.push_back(boost::json::object{{"type", "agentMessage"}, {"id", "m" + std::to_string(i)}, {"text", "a"}});
    const auto last100 = normalize(withItems(many)).value().view.transcript.value_or(Entries{});
    ASSERT_EQ(last100.size(), 100u);
    EXPECT_EQ(std::tie(last100.front().id, last100.back().id), std::tuple("m50", "m149"));
}

TEST(ThreadNormalizer, FinalAnswerIsRedactedAndCutOnceTheTurnEnds)
{
    const boost::json::array answer{{{"type", "agentMessage"}, {"text", std::string(5000, 'x')}}};
    const auto summary = normalize(withItems(answer)).value().view.summary.value_or("");
    EXPECT_EQ(UnicodeText::graphemeCount(summary), 1998u);
    EXPECT_TRUE(summary.ends_with("\u2026 [TRUNCATED]"));
    EXPECT_FALSE(normalize(withItems(answer, "inProgress")).value().view.summary);
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

TEST(ThreadNormalizer, TitleIsNameThenPreviewThenNeutralCutAt500Characters)
{
    std::string accented;
    for (int i = 0; i < 600; ++i)
        accented += "e\u0301"; // one character of two code points and three bytes
    const std::pair<const char *, std::string> rows[] = {
        {R"({"name":"Fix login","preview":"p"})", "Fix login"}, {R"({"name":"","preview":"The prompt"})", "The prompt"},
        {R"({"name":null,"preview":"The prompt"})", "The prompt"}, {R"({"name":5})", "Untitled Codex task"},
        {"", accented.substr(0, 1500)},
    };
    for (const auto &[fields, title] : rows) {
        auto raw = *fields ? parse(fields).as_object() : boost::json::object{{"name", accented}};
        raw.insert({{"id", "t"}, {"updatedAt", 1}});
        EXPECT_EQ(normalize(raw).value().view.title, title) << fields;
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

} // namespace
} // namespace orvane
