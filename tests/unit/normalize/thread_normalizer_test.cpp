#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "model/date_formatting.h"
#include "normalize/codex_normalizer.h"
#include "normalize/unicode_text.h"
#include "normalizer_fixtures.h"

namespace orvane {
namespace {

using test::json;
using Entries = std::vector<TranscriptEntry>;

const GitView fixedGit{"main", true, 2, 5, 1, "8f8e7562703b"};
std::vector<std::string> gitCalls; // the paths the last normalize() asked git about

std::optional<CodexNormalizer::NormalizedThreadResult> normalize(const boost::json::value &raw,
                                                                 TranscriptLevel level = TranscriptLevel::messages,
                                                                 SharingSettings settings = {})
{
    gitCalls.clear();
    settings.transcript = level;
    return CodexNormalizer::thread(raw, settings, "gpt-5.5", "medium", test::at(1796597860), [](const std::string &path) {
        gitCalls.push_back(path);
        return std::optional(fixedGit);
    });
}

boost::json::value sample(const char *name)
{
    return test::sampleResult(name).at("thread");
}

boost::json::object withItems(boost::json::array items, std::string_view status = "completed")
{
    return {{"id", "t-1"}, {"updatedAt", 1796597842}, {"turns", {{{"status", status}, {"items", std::move(items)}}}}};
}

TEST(ThreadNormalizer, RealSamples)
{
    const auto tools = normalize(sample("thread-read-tools.json"), TranscriptLevel::activity).value();
    const std::string at = DateFormatting::iso(test::at(1796597842));
    const std::string answer = "The command finished. Output:\nExit code: 0\nWall time: 0 seconds\nOutput:\n"
                               "Success. Updated the following files:\nA NOTES.md";
    EXPECT_EQ(tools.view, (ThreadView{
        .id = "01a24d93-77c0-7822-860c-8f7b9b2ad6d6", .title = "[[reasoning]] Run the unit tests [[shell:npm test]]",
        .projectName = "demo", .status = ThreadState::finished, .activityText = "Finished", .startedAt = at,
        .updatedAt = at, .completedAt = at, .durationSeconds = 0, .model = "gpt-5.5", .reasoningEffort = "medium",
        .summary = answer, .transcriptAvailability = TranscriptLevel::activity,
        .transcript = Entries{{"01a24d93-81fc-7ea2-97bf-990d3e2c9692", "user", "Add a notes file [[patch:NOTES.md]]", at, 0},
                              {"call_daae06dd7dd241e28c52d1db", "activity", "Edited local files", at, 0},
                              {"msg_edecb9e11f2b4d0980e07ce0", "assistant", answer, at, 0}},
        // The tests ran in an earlier turn; only the latest turn's commands count.
        .git = fixedGit, .checks = CheckView{"unavailable", "unavailable"}, .cancellationSupported = true}));
    EXPECT_EQ(std::tie(tools.activeTurnID, tools.workspace, gitCalls),
              std::tuple("01a24d93-81ca-7403-8740-c048b8bd6a91", "/home/dev/projects/demo",
                         std::vector<std::string>{"/home/dev/projects/demo"}));

    const struct {
        const char *file;
        ThreadState status;
        std::optional<std::string> attentionType;
        std::optional<std::int64_t> durationSeconds;
        const char *activeTurnID;
    } rows[] = {
        {"thread-read-lifecycle.json", ThreadState::failed, "failure", 0, "01a24d93-a9c4-7443-a7bf-7fb82488cd6d"},
        // Read while the turn runs, 10 seconds after it started.
        {"thread-read-inprogress.json", ThreadState::thinking, {}, 10, "01a24d93-a1b1-7b11-9459-f7a322d8949b"},
        // Cut off by a crash: no end, so neither stopped nor a duration.
        {"thread-read-crashed.json", ThreadState::unknown, {}, {}, "01a24d93-c3dd-7e41-ac00-2fefc9c667b1"},
    };
    for (const auto &row : rows) {
        const auto result = normalize(sample(row.file)).value();
        const auto &view = result.view;
        EXPECT_EQ(std::tie(view.status, view.attentionType, view.requiresAttention, view.durationSeconds,
                           result.activeTurnID),
                  std::tuple(row.status, row.attentionType, row.attentionType.has_value(), row.durationSeconds,
                             row.activeTurnID)) << row.file;
        EXPECT_EQ(view.completedAt.has_value(), row.status == ThreadState::failed) << row.file;
        EXPECT_FALSE(view.summary) << row.file;
    }
}

TEST(ThreadNormalizer, CommandLinesAndWorkspacePathsNeverLeave)
{
    auto raw = withItems({json(R"({"type":"userMessage","content":[{"type":"text","text":"run them"}]})"),
                          test::command("/bin/bash -lc 'pytest --token=ghp_abcdefghijklmnop1234 tests/'", "inProgress")},
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
        json(R"({"type":"userMessage","id":"u","content":[{"type":"text","text":"first"},{"type":"image"},
                 {"type":"text","text":"second"}]})"),
        json(R"({"type":"reasoning","id":"r","summary":["hidden thoughts"]})"), test::command("make", "failed"),
        json(R"({"type":"mcpToolCall","id":"mcp"})"), json(R"({"type":"agentMessage","id":"empty","text":""})"),
        json(R"({"type":"userMessage","id":"bad","content":[{"type":"text","text":"lost"},3]})"),
        json(R"({"type":"agentMessage","text":"Bearer abcdefghijklmnopqrstuvwxyz done"})")});
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
    const auto encoded = boost::json::value_from(result.view);
    std::set<std::string> keys;
    for (const auto &member : encoded.as_object())
        keys.emplace(member.key());
    EXPECT_EQ(keys, (std::set<std::string>{"cancellationSupported", "id", "requiresAttention", "status", "title",
                                           "transcriptAvailability", "updatedAt"}));
    EXPECT_EQ(std::tie(result.view.title, result.workspace), std::tuple("Codex task", "/home/dev/projects/demo"));
    EXPECT_TRUE(gitCalls.empty());
}

TEST(ThreadNormalizer, TitleIsNameThenPreviewThenNeutralCutAt500Characters)
{
    const std::string accented = [] {
        std::string text;
        for (int i = 0; i < 600; ++i)
            text += "e\u0301"; // one character of two code points and three bytes
        return text;
    }();
    const std::pair<const char *, std::string> rows[] = {
        {R"({"name":"Fix login","preview":"p"})", "Fix login"}, {R"({"name":"","preview":"The prompt"})", "The prompt"},
        {R"({"name":null,"preview":"The prompt"})", "The prompt"}, {R"({"name":5})", "Untitled Codex task"},
        {"", accented.substr(0, 1500)},
    };
    for (const auto &[fields, title] : rows) {
        auto raw = *fields ? json(fields).as_object() : boost::json::object{{"name", accented}};
        raw.insert({{"id", "t"}, {"updatedAt", 1}});
        EXPECT_EQ(normalize(raw).value().view.title, title) << fields;
    }
}

TEST(ThreadNormalizer, IdentityUpdateTimeAndLatestTurn)
{
    for (const char *raw : {R"({"updatedAt":1796597842})", R"({"id":7,"updatedAt":1796597842})", R"({"id":"t"})",
                            R"({"id":"t","updatedAt":"1796597842"})", R"({"id":"t","updatedAt":1e300})", R"(["id"])"})
        EXPECT_FALSE(normalize(json(raw))) << raw;

    const auto noTurns = normalize(json(R"({"id":"t","updatedAt":1796597842.25,"turns":"none"})")).value();
    EXPECT_EQ(std::tie(noTurns.view.status, noTurns.view.updatedAt, noTurns.view.transcript, noTurns.activeTurnID),
              std::tuple(ThreadState::unknown, "2026-12-06T22:57:22.250Z", Entries{}, std::nullopt));
    EXPECT_FALSE(noTurns.view.durationSeconds || noTurns.view.summary);

    // The greatest start wins, the first of equals; a missing start counts as zero.
    const auto latest = normalize(json(R"({"id":"t","updatedAt":1,"turns":[{"id":"no-start","status":"failed"},
        {"id":"first-late","status":"completed","startedAt":200},{"id":"early","status":"failed","startedAt":100},
        {"id":"second-late","status":"failed","startedAt":200.0}]})")).value();
    EXPECT_EQ(std::tie(latest.activeTurnID, latest.view.status), std::tuple("first-late", ThreadState::finished));
}

} // namespace
} // namespace orvane
