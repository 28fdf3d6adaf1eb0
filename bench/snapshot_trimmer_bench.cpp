#include "companion/snapshot_trimmer.h"

#include <benchmark/benchmark.h>

namespace {

using namespace orvane;

// Twenty threads with a full transcript each; entries of `entryLength` characters.
GlassesSnapshot fullSnapshot(std::size_t entryLength)
{
    GlassesSnapshot snapshot;
    snapshot.generatedAt = "2026-05-01T09:30:00.000Z";
    snapshot.companion = {true, "0.1.0", "0.171.0", "2", "chatgpt", true, "2026-05-01T09:30:00.000Z"};
    for (int t = 0; t < 20; ++t) {
        ThreadView thread;
        thread.id = "019a0000-0000-7000-8000-0000000000" + std::to_string(10 + t);
        thread.title = "Make the parser accept trailing commas";
        thread.status = ThreadState::finished;
        thread.updatedAt = snapshot.generatedAt;
        thread.summary = std::string(400, 's');
        thread.transcript.emplace();
        for (int e = 0; e < 100; ++e)
            thread.transcript->push_back({"item-" + std::to_string(e), e % 2 ? "assistant" : "activity",
                                          std::string(entryLength, 'x'), snapshot.generatedAt, 0});
        snapshot.threads.push_back(std::move(thread));
    }
    snapshot.activeThreadId = snapshot.threads[0].id;
    return snapshot;
}

void BM_MessageSize(benchmark::State &state)
{
    const auto snapshot = fullSnapshot(std::size_t(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(SnapshotTrimmer::messageSize(snapshot));
    state.counters["bytes"] = double(SnapshotTrimmer::messageSize(snapshot));
}

void BM_Fit(benchmark::State &state)
{
    const auto snapshot = fullSnapshot(std::size_t(state.range(0)));
    for (auto _ : state) {
        auto fitted = SnapshotTrimmer::fit(snapshot);
        benchmark::DoNotOptimize(fitted);
    }
    state.counters["bytes"] = double(SnapshotTrimmer::messageSize(snapshot));
}

// 10 characters: fits as built; 200: more than half the entries go; 4000: every transcript and
// some threads go.
BENCHMARK(BM_MessageSize)->Arg(10)->Arg(200)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fit)->Arg(10)->Arg(200)->Arg(4000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
