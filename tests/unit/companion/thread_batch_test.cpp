#include "companion/thread_batch.h"

#include <gtest/gtest.h>

#include <boost/json.hpp>

namespace orvane {
namespace {

namespace json = boost::json;

TEST(ThreadBatch, ReadsTheModelFromTheNestedConfigurationElseFromTheTop)
{
    struct Case {
        const char *result;
        std::optional<std::string> model;
        std::optional<std::string> effort;
    };
    const std::vector<Case> cases{
        {R"({"config":{"model":"gpt-5.5","model_reasoning_effort":"high"},"origins":{}})", "gpt-5.5", "high"},
        {R"({"model":"o4","model_reasoning_effort":"low"})", "o4", "low"},
        {R"({"config":{"model":null},"model":"ignored"})", std::nullopt, std::nullopt},
        {R"({"config":"text","model":"o4"})", "o4", std::nullopt},
        {R"({"config":{"model":3,"model_reasoning_effort":["high"]}})", std::nullopt, std::nullopt},
    };
    for (const auto &test : cases) {
        const auto choice = ThreadBatch::modelChoice(json::parse(test.result).as_object());
        EXPECT_EQ(choice.model, test.model) << test.result;
        EXPECT_EQ(choice.effort, test.effort) << test.result;
    }
    EXPECT_EQ(ThreadBatch::modelChoice(std::nullopt).model, std::nullopt);
}

TEST(ThreadBatch, KeepsListOrderSkipsRefusedThreadsAndSummarizesEachWorkspaceOnce)
{
    const auto thread = [](std::string id, std::string cwd) {
        return json::object{{"id", std::move(id)}, {"updatedAt", 1796597000}, {"cwd", std::move(cwd)},
                            {"status", {{"type", "idle"}}}, {"turns", json::array()}};
    };
    ThreadBatch::Input input;
    input.threads = {thread("b", "/work/one"), json::object{{"updatedAt", 1}}, thread("a", "/work/two"),
                     thread("c", "/work/one")};
    input.choice.model = "gpt-5.5";
    std::vector<std::string> inspected;
    const auto results = ThreadBatch::normalize(input, [&](const std::string &path) {
        inspected.push_back(path);
        return std::optional<GitView>(GitView{.branch = path});
    });
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].view.id, "b");
    EXPECT_EQ(results[1].view.id, "a");
    EXPECT_EQ(results[2].view.id, "c");
    EXPECT_EQ(results[2].view.git, results[0].view.git);
    EXPECT_EQ(results[1].view.git->branch, "/work/two");
    EXPECT_EQ(results[0].view.model, "gpt-5.5");
    EXPECT_EQ(inspected, (std::vector<std::string>{"/work/one", "/work/two"}));
}

} // namespace
} // namespace orvane
