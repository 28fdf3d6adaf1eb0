// The cost of taking a large `thread/read` answer off the pipe: framing the bytes into a line
// and parsing it, as the transport does for every message.
#include "appserver/line_framing.h"
#include "appserver/message_parsing.h"

#include <benchmark/benchmark.h>

#include <boost/json.hpp>

#include <string>

namespace {

namespace json = boost::json;

std::string repeated(std::string_view text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

// A thread read with `turns` turns of the usual items, shaped like the App Server's answers:
// command output and diffs full of line breaks, quotes and non-ASCII text to escape.
std::string threadReadLine(int turns)
{
    const auto output = repeated("  \u2713 parser handles \"nested\" blocks in src/parser.ts (3 ms)\n", 50);
    const auto diff = repeated("-    const value = parse(tokens[i]);\n+    const value = parse(tokens[i + 1], { strict: true });\n", 20);
    json::array turnList;
    for (int turn = 0; turn < turns; ++turn) {
        const auto id = std::to_string(turn);
        json::array items{
            {{"type", "userMessage"}, {"id", "u" + id}, {"content", {{{"type", "text"}, {"text", "Please run the tests and fix what fails in the parser module."}}}}},
            {{"type", "reasoning"}, {"id", "r" + id}, {"summary", {"Looking at the failing test output first."}}, {"content", json::array{}}},
            {{"type", "commandExecution"}, {"id", "c" + id}, {"command", "/bin/bash -lc 'npm test'"},
             {"cwd", "/home/dev/projects/orbit"}, {"status", "completed"}, {"exitCode", 1}, {"durationMs", 5123},
             {"aggregatedOutput", output + " FAIL src/parser.test.ts\n  expected 3 got 4\n"}},
            {{"type", "fileChange"}, {"id", "f" + id}, {"status", "completed"},
             {"changes", {{{"path", "/home/dev/projects/orbit/src/parser.ts"}, {"kind", {{"type", "update"}}}, {"diff", diff}}}}},
            {{"type", "agentMessage"}, {"id", "a" + id}, {"text", "Fixed the off-by-one in the tokenizer; all 214 tests pass now."}}};
        turnList.push_back({{"id", "turn-" + id}, {"status", "completed"}, {"items", std::move(items)}, {"error", nullptr},
                            {"startedAt", 1765000000 + turn}, {"completedAt", 1765000060 + turn}, {"durationMs", 60000}});
    }
    json::object thread{{"id", "019b0000-0000-7000-8000-000000000000"}, {"preview", "Please run the tests"},
                        {"modelProvider", "openai"}, {"createdAt", 1765000000}, {"updatedAt", 1765009999},
                        {"status", {{"type", "idle"}}}, {"cwd", "/home/dev/projects/orbit"}, {"turns", std::move(turnList)}};
    return json::serialize(json::object{{"id", 42}, {"result", {{"thread", std::move(thread)}}}}) + "\n";
}

// The pipe hands the bytes over in chunks of this size.
constexpr std::size_t chunk = 64 * 1024;

void framingOnly(benchmark::State &state)
{
    const auto line = threadReadLine(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        orvane::LineFraming framing;
        std::size_t messages = 0;
        for (std::size_t at = 0; at < line.size(); at += chunk)
            messages += framing.feed(std::string_view(line).substr(at, chunk)).messages.size();
        benchmark::DoNotOptimize(messages);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
    state.counters["lineBytes"] = static_cast<double>(line.size());
}

void framingAndParsing(benchmark::State &state)
{
    const auto line = threadReadLine(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        orvane::LineFraming framing;
        for (std::size_t at = 0; at < line.size(); at += chunk)
            for (const auto &message : framing.feed(std::string_view(line).substr(at, chunk)).messages)
                benchmark::DoNotOptimize(orvane::parseMessage(message));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
    state.counters["lineBytes"] = static_cast<double>(line.size());
}

}

BENCHMARK(framingOnly)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(framingAndParsing)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
