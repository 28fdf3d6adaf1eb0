#include "companion/snapshot_trimmer.h"

#include <gtest/gtest.h>

#include <boost/json/serialize.hpp>

#include <algorithm>
#include <numeric>

namespace orvane {
namespace {

// Six threads of eight entries of varying length (escapes and non-ASCII included).
GlassesSnapshot makeSnapshot()
{
    GlassesSnapshot snapshot{.generatedAt = "2026-05-01T09:30:00.000Z", .sequence = 42, .companion = {.connected = true, .version = "0.1.0"},
                             .usage = UsageView{.available = true, .authenticationMode = "chatgpt", .completedToday = 1}};
    for (int t = 0; t < 6; ++t) {
        ThreadView &thread = snapshot.threads.emplace_back(ThreadView{.id = "thread-" + std::to_string(t),
                                                                      .summary = std::string(300, 's'), .transcript = std::vector<TranscriptEntry>{}});
        for (int e = 0; e < 8; ++e)
            thread.transcript->push_back({thread.id + "-" + std::to_string(e), "assistant",
                                          std::string(40 + (e + t) % 7, 'x') + "\u00e9\"\n", "2026-05-01T09:30:00Z", e % 3});
    }
    return snapshot;
}

// Every state trimming passes through, one step at a time: the oldest entry of each thread but
// the current one from the end of the list, then of the current one, then whole threads from
// the end, never the current one.
std::vector<GlassesSnapshot> trimmingSteps(GlassesSnapshot snapshot)
{
    std::vector<GlassesSnapshot> steps{snapshot};
    auto &threads = snapshot.threads;
    const auto isCurrent = [&](std::size_t i) { return threads[i].id == snapshot.activeThreadId; };
    std::vector<std::size_t> order(threads.size());
    std::iota(order.rbegin(), order.rend(), 0);
    std::stable_partition(order.begin(), order.end(), [&](std::size_t i) { return !isCurrent(i); });
    for (auto i : order)
        for (auto &entries = *threads[i].transcript; !entries.empty(); steps.push_back(snapshot))
            entries.erase(entries.begin());
    for (std::size_t i = threads.size(); i-- > 0;)
        if (!isCurrent(i)) {
            threads.erase(threads.begin() + std::ptrdiff_t(i));
            steps.push_back(snapshot);
        }
    return steps;
}

// At every ceiling from nothing fitting to everything fitting, with the current thread first,
// inside, last or absent: the first step that fits, or the last when none does.
TEST(SnapshotTrimmer, TrimsInOrderAndNoFurtherThanNeeded)
{
    const auto sentSize = [](const GlassesSnapshot &snapshot) {
        return boost::json::serialize(boost::json::object{{"type", "snapshot"}, {"snapshot", boost::json::value_from(snapshot)}}).size();
    };
    for (const std::optional<std::string> &current : {std::optional<std::string>("thread-0"), {"thread-2"}, {"thread-5"}, {}}) {
        auto original = makeSnapshot();
        original.activeThreadId = current;
        const auto steps = trimmingSteps(original);
        std::size_t expected = 0;
        for (std::size_t ceiling = sentSize(original) + 10; ceiling >= 300; ceiling -= 13) {
            while (expected + 1 < steps.size() && sentSize(steps[expected]) > ceiling)
                ++expected;
            ASSERT_TRUE(SnapshotTrimmer::fit(original, ceiling) == steps[expected])
                << "current " << current.value_or("none") << ", ceiling " << ceiling << ", step " << expected;
        }
    }
}

} // namespace
} // namespace orvane
