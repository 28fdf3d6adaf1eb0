#include "companion/snapshot_trimmer.h"

#include <gtest/gtest.h>

#include <boost/json/serialize.hpp>

namespace orvane {
namespace {

// Four threads of five entries of varying length (escapes and non-ASCII included).
GlassesSnapshot makeSnapshot()
{
    GlassesSnapshot snapshot{.generatedAt = "2026-05-01T09:30:00.000Z", .sequence = 42, .companion = {.connected = true, .version = "0.1.0"},
                             .usage = UsageView{.available = true, .authenticationMode = "chatgpt", .completedToday = 1}};
    for (int t = 0; t < 4; ++t) {
        ThreadView &thread = snapshot.threads.emplace_back(ThreadView{.id = "thread-" + std::to_string(t),
                                                                      .summary = std::string(100, 's'), .transcript = std::vector<TranscriptEntry>{}});
        for (int e = 0; e < 5; ++e)
            thread.transcript->push_back({thread.id + "-" + std::to_string(e), "assistant",
                                          std::string(20 + (e + t) % 7, 'x') + "\u00e9\"\n", "2026-05-01T09:30:00Z", e % 3});
    }
    return snapshot;
}

std::size_t sentSize(const GlassesSnapshot &snapshot)
{
    return boost::json::serialize(boost::json::object{{"type", "snapshot"}, {"snapshot", boost::json::value_from(snapshot)}}).size();
}

// What trimming may remove: entries and threads.
std::size_t elements(const GlassesSnapshot &snapshot)
{
    std::size_t count = snapshot.threads.size();
    for (const auto &thread : snapshot.threads)
        count += thread.transcript->size();
    return count;
}

// Whether `trimmed` keeps the order: each thread's oldest entries go first, the current thread's
// only once every other thread has none, the later threads' before the earlier ones', and whole
// threads only once no entries are left, from the end of the list and never the current one.
testing::AssertionResult keepsTheOrder(const GlassesSnapshot &original, const GlassesSnapshot &trimmed)
{
    std::size_t kept = 0, keptOthers = 0;
    bool threadRemoved = false, currentShortened = false, othersLeft = false;
    for (std::size_t i = original.threads.size(); i-- > 0;) {
        const ThreadView &before = original.threads[i];
        const bool current = before.id == original.activeThreadId;
        const std::size_t at = trimmed.threads.size() - 1 - kept;
        if (kept == trimmed.threads.size() || trimmed.threads[at].id != before.id) {
            if (current || keptOthers > 0)
                return testing::AssertionFailure() << "removed " << before.id;
            threadRemoved = true;
            continue;
        }
        ++kept;
        ThreadView expected = before;
        const auto removed = static_cast<std::ptrdiff_t>(before.transcript->size() - trimmed.threads[at].transcript->size());
        if (removed < 0)
            return testing::AssertionFailure() << "grew " << before.id;
        expected.transcript->erase(expected.transcript->begin(), expected.transcript->begin() + removed);
        if (trimmed.threads[at] != expected)
            return testing::AssertionFailure() << "changed more than the oldest entries of " << before.id;
        const bool left = !expected.transcript->empty();
        if (current) {
            currentShortened = removed > 0;
            continue;
        }
        if (removed > 0 && othersLeft)
            return testing::AssertionFailure() << "shortened " << before.id << " before a later thread was empty";
        ++keptOthers;
        othersLeft = othersLeft || left;
    }
    if (kept != trimmed.threads.size())
        return testing::AssertionFailure() << "a thread out of place";
    for (const auto &thread : trimmed.threads)
        if ((threadRemoved || (currentShortened && thread.id != original.activeThreadId)) && !thread.transcript->empty())
            return testing::AssertionFailure() << thread.id << " kept entries";
    return testing::AssertionSuccess();
}

// From everything fitting until nothing is left to remove, with the current thread first, inside, last or
// absent: the result fits unless nothing is left to remove and keeps the order. Every ceiling from
// one result's size down gives the same result; one byte below it, one more entry or thread goes.
TEST(SnapshotTrimmer, TrimsInOrderAndNoFurtherThanNeeded)
{
    for (const std::optional<std::string> &current : {std::optional<std::string>("thread-0"), {"thread-2"}, {"thread-3"}, {}}) {
        auto original = makeSnapshot();
        original.activeThreadId = current;
        const std::size_t least = current ? 1 : 0; // elements that always stay
        GlassesSnapshot previous = original;
        std::size_t previousSize = sentSize(original);
        for (std::size_t ceiling = previousSize; elements(previous) > least;) {
            const GlassesSnapshot trimmed = SnapshotTrimmer::fit(original, ceiling);
            const std::size_t size = sentSize(trimmed);
            ASSERT_TRUE(size <= ceiling || elements(trimmed) == least) << ceiling;
            ASSERT_TRUE(keepsTheOrder(original, trimmed)) << ceiling;
            const bool previousFits = previousSize <= ceiling || elements(previous) == least;
            ASSERT_EQ(elements(previous) - elements(trimmed), previousFits ? 0u : 1u) << ceiling;
            ceiling = size < ceiling ? size : ceiling - 1;
            previous = trimmed;
            previousSize = size;
        }
    }
}

} // namespace
} // namespace orvane
