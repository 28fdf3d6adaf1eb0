#include <gtest/gtest.h>

#include <algorithm>

#include <boost/json/serialize.hpp>

#include "model/date_formatting.h"
#include "normalize/codex_normalizer.h"
#include "normalize/unicode_text.h"
#include "normalizer_fixtures.h"

namespace orvane {
namespace {

using test::json;
using test::threadWithTurn;

const auto now = test::at(1796597860);
const GitView fixedGit{.branch = "main", .dirty = true, .changedFiles = 2, .additions = 5, .deletions = 1,
                       .commit = "8f8e7562703b"};

SharingSettings withLevel(TranscriptLevel level)
{
    SharingSettings settings;
    settings.transcript = level;
    return settings;
}

std::optional<CodexNormalizer::NormalizedThreadResult>
normalize(const boost::json::value &raw, const SharingSettings &settings = {},
          std::vector<std::string> *gitCalls = nullptr)
{
    return CodexNormalizer::thread(raw, settings, "gpt-5.5", "medium", now,
                                   [gitCalls](const std::string &path) {
                                       if (gitCalls)
                                           gitCalls->push_back(path);
                                       return std::optional<GitView>(fixedGit);
                                   });
}

std::string iso(double seconds)
{
    return DateFormatting::iso(test::at(seconds));
}

TEST(ThreadSamples, ToolsTurnNormalizesCompletely)
{
    std::vector<std::string> gitCalls;
    const auto result = normalize(test::sampleThread("thread-read-tools.json"),
                                  withLevel(TranscriptLevel::activity), &gitCalls);
    ASSERT_TRUE(result);
    const std::string updated = iso(1796597842);
    const std::string answer = "The command finished. Output:\nExit code: 0\nWall time: 0 seconds\nOutput:\n"
                               "Success. Updated the following files:\nA NOTES.md";
    ThreadView expected{
        .id = "01a24d93-77c0-7822-860c-8f7b9b2ad6d6",
        .title = "[[reasoning]] Run the unit tests [[shell:npm test]]",
        .projectName = "demo",
        .status = ThreadState::finished,
        .activityText = "Finished",
        .startedAt = updated,
        .updatedAt = updated,
        .completedAt = updated,
        .durationSeconds = 0,
        .requiresAttention = false,
        .attentionType = std::nullopt,
        .model = "gpt-5.5",
        .reasoningEffort = "medium",
        .summary = answer,
        .transcriptAvailability = TranscriptLevel::activity,
        .transcript = std::vector<TranscriptEntry>{
            {"01a24d93-81fc-7ea2-97bf-990d3e2c9692", "user", "Add a notes file [[patch:NOTES.md]]", updated, 0},
            {"call_daae06dd7dd241e28c52d1db", "activity", "Edited local files", updated, 0},
            {"msg_edecb9e11f2b4d0980e07ce0", "assistant", answer, updated, 0}},
        .git = fixedGit,
        // The tests ran in an earlier turn; only the latest turn's commands count.
        .checks = CheckView{"unavailable", "unavailable"},
        .cancellationSupported = true,
    };
    EXPECT_EQ(result->view, expected);
    EXPECT_EQ(result->activeTurnID, "01a24d93-81ca-7403-8740-c048b8bd6a91");
    EXPECT_EQ(result->workspace, "/home/dev/projects/demo");
    EXPECT_EQ(gitCalls, std::vector<std::string>{"/home/dev/projects/demo"});
}

struct SampleCase {
    const char *file;
    ThreadState status;
    std::optional<std::string> attentionType;
    std::optional<std::int64_t> durationSeconds;
    bool hasCompletedAt;
    const char *activeTurnID;
};

class ThreadSampleStates : public testing::TestWithParam<SampleCase> {};

TEST_P(ThreadSampleStates, LatestTurnDecides)
{
    const auto &row = GetParam();
    const auto result = normalize(test::sampleThread(row.file));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->view.status, row.status);
    EXPECT_EQ(result->view.attentionType, row.attentionType);
    EXPECT_EQ(result->view.requiresAttention, row.attentionType.has_value());
    EXPECT_EQ(result->view.durationSeconds, row.durationSeconds);
    EXPECT_EQ(result->view.completedAt.has_value(), row.hasCompletedAt);
    EXPECT_EQ(result->activeTurnID, row.activeTurnID);
    EXPECT_FALSE(result->view.summary);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, ThreadSampleStates,
    testing::Values(
        SampleCase{"thread-read-lifecycle.json", ThreadState::failed, "failure", 0, true,
                   "01a24d93-a9c4-7443-a7bf-7fb82488cd6d"},
        // Read while the turn runs: 10 seconds since it started at 1796597850.
        SampleCase{"thread-read-inprogress.json", ThreadState::thinking, std::nullopt, 10, false,
                   "01a24d93-a1b1-7b11-9459-f7a322d8949b"},
        // Cut off by a crash: no end, so neither stopped nor a duration.
        SampleCase{"thread-read-crashed.json", ThreadState::unknown, std::nullopt, std::nullopt, false,
                   "01a24d93-c3dd-7e41-ac00-2fefc9c667b1"}));

TEST(ThreadPrivacy, CommandLinesAndWorkspacePathsNeverLeave)
{
    const std::string commandLine = "/bin/bash -lc 'pytest --token=ghp_abcdefghijklmnop1234 tests/'";
    const boost::json::object userMessage{
        {"type", "userMessage"}, {"content", boost::json::array{{{"type", "text"}, {"text", "run them"}}}}};
    auto raw = threadWithTurn(boost::json::object{
        {"id", "turn-1"},
        {"status", "inProgress"},
        {"startedAt", 1796597850},
        {"items", boost::json::array{userMessage, test::command(commandLine, "inProgress")}}});
    raw["cwd"] = "/home/private-user/clients/acme-secret/app";
    for (const auto level : {TranscriptLevel::activity, TranscriptLevel::full}) {
        const auto result = normalize(raw, withLevel(level));
        ASSERT_TRUE(result);
        EXPECT_EQ(result->view.status, ThreadState::testing);
        EXPECT_EQ(result->view.checks, (CheckView{"running", "unavailable"}));
        EXPECT_EQ(result->view.projectName, "app");
        ASSERT_TRUE(result->view.transcript);
        ASSERT_EQ(result->view.transcript->size(), 2u);
        EXPECT_EQ(result->view.transcript->back().text, "Ran a local command");
        const std::string encoded = encode(result->view);
        for (const char *secret : {"pytest", "ghp_", "private-user", "acme-secret", "/home", "/bin/bash"})
            EXPECT_EQ(encoded.find(secret), std::string::npos) << secret;
    }
    const auto sample = normalize(test::sampleThread("thread-read-tools.json"), withLevel(TranscriptLevel::full));
    ASSERT_TRUE(sample);
    EXPECT_EQ(encode(sample->view).find("/home/dev"), std::string::npos);
}

boost::json::object agentMessage(std::string id, std::string text)
{
    return {{"type", "agentMessage"}, {"id", std::move(id)}, {"text", std::move(text)}};
}

TEST(ThreadTranscript, KeepsTheLast100Entries)
{
    boost::json::array items;
    for (int i = 0; i < 150; ++i)
        items.push_back(agentMessage("m" + std::to_string(i), "answer " + std::to_string(i)));
    const auto result = normalize(threadWithTurn(boost::json::object{{"status", "completed"}, {"items", items}}));
    ASSERT_TRUE(result && result->view.transcript);
    const auto &entries = *result->view.transcript;
    ASSERT_EQ(entries.size(), 100u);
    EXPECT_EQ(entries.front().id, "m50");
    EXPECT_EQ(entries.front().text, "answer 50");
    EXPECT_EQ(entries.back().id, "m149");
}

TEST(ThreadTranscript, LevelsDecideWhichItemsCount)
{
    const boost::json::array items{
        {{"type", "userMessage"},
         {"id", "u"},
         {"content", {{{"type", "text"}, {"text", "first"}}, {{"type", "image"}}, {{"type", "text"}, {"text", "second"}}}}},
        {{"type", "reasoning"}, {"id", "r"}, {"summary", {"hidden thoughts"}}},
        test::command("make", "failed"),
        {{"type", "mcpToolCall"}, {"id", "mcp"}},
        {{"type", "agentMessage"}, {"id", "empty"}, {"text", ""}},
        {{"type", "userMessage"}, {"id", "bad"}, {"content", {{{"type", "text"}, {"text", "lost"}}, 3}}},
        {{"type", "agentMessage"}, {"text", "Bearer abcdefghijklmnopqrstuvwxyz done"}}};
    const auto raw = threadWithTurn(boost::json::object{{"status", "completed"}, {"items", items}});

    EXPECT_FALSE(normalize(raw, withLevel(TranscriptLevel::none))->view.transcript);

    const auto messages = *normalize(raw, withLevel(TranscriptLevel::messages))->view.transcript;
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "first\nsecond");
    EXPECT_EQ(messages[1].kind, "assistant");
    EXPECT_EQ(messages[1].text, "[REDACTED] done");
    EXPECT_EQ(messages[1].redactionCount, 1);
    // An item without an id gets a fresh upper-case UUID.
    EXPECT_EQ(messages[1].id.size(), 36u);
    EXPECT_EQ(messages[1].id.find_first_of("abcdef"), std::string::npos);

    for (const auto level : {TranscriptLevel::activity, TranscriptLevel::full}) {
        const auto entries = *normalize(raw, withLevel(level))->view.transcript;
        std::vector<std::string> texts;
        for (const auto &entry : entries)
            texts.push_back(entry.kind + ": " + entry.text);
        EXPECT_EQ(texts, (std::vector<std::string>{"user: first\nsecond", "activity: A local command failed",
                                                   "activity: Used a connected tool",
                                                   "assistant: [REDACTED] done"}));
    }
}

TEST(ThreadSummary, FinalAnswerIsRedactedAndCut)
{
    const std::string answer(5000, 'x');
    auto turn = boost::json::object{{"status", "completed"}, {"items", boost::json::array{agentMessage("a", answer)}}};
    const auto summary = normalize(threadWithTurn(turn))->view.summary;
    ASSERT_TRUE(summary);
    EXPECT_EQ(UnicodeText::graphemeCount(*summary), 1998u);
    EXPECT_TRUE(summary->ends_with("\u2026 [TRUNCATED]"));

    turn["status"] = "inProgress";
    EXPECT_FALSE(normalize(threadWithTurn(turn))->view.summary);
}

TEST(ThreadSettings, EveryChoiceOffLeavesOnlyTheRequiredFields)
{
    const SharingSettings off{false, false, false, false, false, false, false, false, TranscriptLevel::none};
    std::vector<std::string> gitCalls;
    const auto result = normalize(test::sampleThread("thread-read-tools.json"), off, &gitCalls);
    ASSERT_TRUE(result);
    const auto keys = boost::json::value_from(result->view).as_object();
    std::vector<std::string> names;
    for (const auto &member : keys)
        names.emplace_back(member.key());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"cancellationSupported", "id", "requiresAttention", "status",
                                               "title", "transcriptAvailability", "updatedAt"}));
    EXPECT_EQ(result->view.title, "Codex task");
    EXPECT_TRUE(gitCalls.empty());
    EXPECT_EQ(result->workspace, "/home/dev/projects/demo");
}

struct TitleCase {
    const char *name;
    const char *raw;
    std::string expected;
};

class ThreadTitle : public testing::TestWithParam<TitleCase> {};

TEST_P(ThreadTitle, NameThenPreviewThenNeutral)
{
    auto raw = json(GetParam().raw).as_object();
    raw["id"] = "t";
    raw["updatedAt"] = 1;
    EXPECT_EQ(normalize(raw)->view.title, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ThreadTitle,
    testing::Values(TitleCase{"Name", R"({"name":"Fix login","preview":"p"})", "Fix login"},
                    TitleCase{"EmptyNameFallsBack", R"({"name":"","preview":"The prompt"})", "The prompt"},
                    TitleCase{"NullName", R"({"name":null,"preview":"The prompt"})", "The prompt"},
                    TitleCase{"Neither", R"({"name":5})", "Untitled Codex task"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ThreadTitle, CutAt500UserPerceivedCharacters)
{
    std::string title;
    for (int i = 0; i < 600; ++i)
        title += "e\u0301"; // one character, two code points, three bytes
    auto raw = threadWithTurn(boost::json::object{});
    raw["name"] = title;
    const auto cut = normalize(raw)->view.title;
    EXPECT_EQ(UnicodeText::graphemeCount(cut), 500u);
    EXPECT_EQ(cut.size(), 1500u);
}

TEST(ThreadRequiredFields, ThreadWithoutIdOrUpdateIsSkipped)
{
    for (const char *raw : {R"({"updatedAt":1796597842})", R"({"id":7,"updatedAt":1796597842})",
                            R"({"id":"t","updatedAt":"1796597842"})", R"({"id":"t"})",
                            R"({"id":"t","updatedAt":1e300})", R"(["id","t"])"})
        EXPECT_FALSE(normalize(json(raw))) << raw;
}

TEST(ThreadWithoutTurns, UnknownWithEmptyTranscript)
{
    const auto result = normalize(json(R"({"id":"t","updatedAt":1796597842.25,"turns":"none"})"));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->view.status, ThreadState::unknown);
    EXPECT_EQ(result->view.updatedAt, "2026-12-06T22:57:22.250Z");
    EXPECT_FALSE(result->view.durationSeconds);
    EXPECT_FALSE(result->view.summary);
    EXPECT_FALSE(result->activeTurnID);
    EXPECT_EQ(result->view.transcript, std::vector<TranscriptEntry>{});
}

TEST(ThreadLatestTurn, GreatestStartFirstOfEqualsMissingCountsAsZero)
{
    const auto raw = json(R"({"id":"t","updatedAt":1,"turns":[
        {"id":"no-start","status":"failed"},
        {"id":"first-late","status":"completed","startedAt":200},
        {"id":"early","status":"failed","startedAt":100},
        {"id":"second-late","status":"failed","startedAt":200.0}]})");
    const auto result = normalize(raw);
    EXPECT_EQ(result->activeTurnID, "first-late");
    EXPECT_EQ(result->view.status, ThreadState::finished);
}

} // namespace
} // namespace orvane
