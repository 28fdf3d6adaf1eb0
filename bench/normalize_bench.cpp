// Normalizing one large thread from its parsed JSON: the per-thread cost of a refresh.
#include <benchmark/benchmark.h>

#include <string>

#include <boost/json/serialize.hpp>

#include "normalize/codex_normalizer.h"

namespace {

using namespace orvane;

// Earlier turns are only scanned for the latest; the latest turn's items are all read.
constexpr int turnCount = 4;
constexpr int itemsPerEarlierTurn = 500;
constexpr int itemsInLatestTurn = 3000;
constexpr int itemCount = (turnCount - 1) * itemsPerEarlierTurn + itemsInLatestTurn;

std::string paragraph(int seed, std::size_t length)
{
    std::string text = "Step " + std::to_string(seed) + ": checked the parser and the tests. ";
    if (seed % 10 == 0)
        text += "Used Bearer abcdefghijklmnopqrstuvwxyz0123 and password=hunter22secret here. ";
    while (text.size() < length)
        text += "The quick brown fox reads the workspace, edits a file and runs the suite again. ";
    return text;
}

// The shapes the real App Server writes (codex-cli 0.171.0), with large outputs and answers.
boost::json::object item(int turn, int index)
{
    const std::string id = "item-" + std::to_string(turn) + "-" + std::to_string(index);
    switch (index % 5) {
    case 0:
        return {{"type", "userMessage"}, {"id", id},
                {"content", boost::json::array{{{"type", "text"}, {"text", paragraph(index, 300)},
                                                {"text_elements", boost::json::array()}}}}};
    case 1:
        return {{"type", "reasoning"}, {"id", id}, {"summary", boost::json::array{paragraph(index, 600)}},
                {"content", boost::json::array()}};
    case 2:
        return {{"type", "commandExecution"}, {"id", id},
                {"command", index % 3 ? "/bin/bash -lc 'npm test'" : "/bin/bash -lc 'cargo build'"},
                {"cwd", "/home/dev/projects/demo"}, {"status", "completed"},
                {"aggregatedOutput", paragraph(index, 2000)}, {"exitCode", 0}, {"durationMs", 1224}};
    case 3:
        return {{"type", "fileChange"}, {"id", id}, {"status", "completed"},
                {"changes", boost::json::array{{{"path", "/home/dev/projects/demo/src/main.rs"},
                                                {"diff", paragraph(index, 1500)}}}}};
    default:
        return {{"type", "agentMessage"}, {"id", id}, {"text", paragraph(index, 1200)}};
    }
}

boost::json::object largeThread()
{
    boost::json::array turns;
    for (int turn = 0; turn < turnCount; ++turn) {
        boost::json::array items;
        const int count = turn + 1 == turnCount ? itemsInLatestTurn : itemsPerEarlierTurn;
        for (int index = 0; index < count; ++index)
            items.push_back(item(turn, index));
        turns.push_back(boost::json::object{{"id", "turn-" + std::to_string(turn)},
                                            {"status", "completed"},
                                            {"startedAt", 1796597000 + turn * 100},
                                            {"completedAt", 1796597050 + turn * 100},
                                            {"durationMs", 50000},
                                            {"items", std::move(items)}});
    }
    return {{"id", "01a24d93-77c0-7822-860c-8f7b9b2ad6d6"},
            {"preview", "Run the unit tests"},
            {"updatedAt", 1796597842},
            {"cwd", "/home/dev/projects/demo"},
            {"status", {{"type", "notLoaded"}}},
            {"turns", std::move(turns)}};
}

void normalizeLargeThread(benchmark::State &state)
{
    const auto raw = largeThread();
    SharingSettings settings;
    settings.transcript = static_cast<TranscriptLevel>(state.range(0));
    const GitView git{.branch = "main", .dirty = true, .changedFiles = 3, .additions = 10, .deletions = 2,
                      .commit = "8f8e7562703b"};
    const auto fixedGit = [&git](const std::string &) { return std::optional<GitView>(git); };
    const auto now = std::chrono::system_clock::time_point(std::chrono::seconds(1796597900));
    for (auto _ : state) {
        auto result = CodexNormalizer::thread(raw, settings, "gpt-5.5", "medium", now, fixedGit);
        benchmark::DoNotOptimize(result);
    }
    state.counters["jsonMB"] = static_cast<double>(boost::json::serialize(raw).size()) / 1e6;
    state.counters["items"] = itemCount;
    state.SetLabel(std::string(rawValue(settings.transcript)));
}

BENCHMARK(normalizeLargeThread)
    ->Arg(static_cast<int>(TranscriptLevel::none))
    ->Arg(static_cast<int>(TranscriptLevel::messages))
    ->Arg(static_cast<int>(TranscriptLevel::full))
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
