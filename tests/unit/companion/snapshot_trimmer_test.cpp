#include "companion/snapshot_trimmer.h"

#include <gtest/gtest.h>

#include <boost/json/serialize.hpp>

#include <algorithm>
#include <optional>

namespace orvane {
namespace {

using SnapshotTrimmer::fit;
using SnapshotTrimmer::messageSize;

ThreadView makeThread(int index, std::size_t entries, std::size_t entryLength, std::size_t summaryLength)
{
    ThreadView thread;
    thread.id = "thread-" + std::to_string(index);
    thread.title = "Thread " + std::to_string(index);
    thread.status = ThreadState::finished;
    thread.updatedAt = "2026-05-01T09:30:00.000Z";
    if (summaryLength > 0)
        thread.summary = std::string(summaryLength, 's');
    thread.transcript.emplace();
    for (std::size_t e = 0; e < entries; ++e) {
        // Lengths vary, so a size kept by arithmetic would drift if it were wrong.
        thread.transcript->push_back({"entry-" + std::to_string(index) + "-" + std::to_string(e), "assistant",
                                      std::string(entryLength + e % 7, 'x') + "\u00e9\"\n",
                                      "2026-05-01T09:30:00.000Z", std::int64_t(e % 3)});
    }
    return thread;
}

GlassesSnapshot makeSnapshot(std::size_t threads, std::size_t entries, std::size_t entryLength,
                             std::optional<std::size_t> current, std::size_t summaryLength = 0)
{
    GlassesSnapshot snapshot;
    snapshot.generatedAt = "2026-05-01T09:30:00.000Z";
    snapshot.sequence = 42;
    snapshot.companion = {true, "0.1.0", "0.171.0", "2", "chatgpt", true, "2026-05-01T09:30:00.000Z"};
    for (std::size_t t = 0; t < threads; ++t)
        snapshot.threads.push_back(makeThread(int(t), entries, entryLength, summaryLength));
    if (current)
        snapshot.activeThreadId = snapshot.threads[*current].id;
    snapshot.usage = UsageView{true, std::nullopt, "chatgpt", "plus", std::nullopt, {}, 10, 20, 0,
                               std::nullopt, std::nullopt, 1, 0, 60, "2026-05-01T09:30:00.000Z"};
    return snapshot;
}

std::size_t transcriptSize(const ThreadView &thread)
{
    return thread.transcript ? thread.transcript->size() : 0;
}

// Checks everything the trimming promises about `result`, made from `original`.
void expectTrimmedCorrectly(const GlassesSnapshot &original, const GlassesSnapshot &result,
                            std::size_t ceiling)
{
    // Nothing but threads changes, and threads keep their order.
    GlassesSnapshot rest = result, originalRest = original;
    rest.threads.clear();
    originalRest.threads.clear();
    EXPECT_EQ(rest, originalRest);

    const auto &kept = result.threads;
    ASSERT_LE(kept.size(), original.threads.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        ThreadView without = kept[i], originalWithout = original.threads[i];
        // Threads are only dropped from the end, except the current one.
        if (without.id != originalWithout.id) {
            ASSERT_TRUE(original.activeThreadId && without.id == *original.activeThreadId);
            ASSERT_EQ(i + 1, kept.size()) << "only the current thread stays behind dropped ones";
            originalWithout = *std::find_if(original.threads.begin(), original.threads.end(),
                                            [&](const auto &t) { return t.id == without.id; });
        }
        // Transcripts lose their oldest entries only.
        ASSERT_TRUE(without.transcript);
        const auto &entries = *without.transcript;
        const auto &all = *originalWithout.transcript;
        ASSERT_LE(entries.size(), all.size());
        EXPECT_TRUE(std::equal(entries.begin(), entries.end(), all.end() - std::ptrdiff_t(entries.size())));
        without.transcript.reset();
        originalWithout.transcript.reset();
        EXPECT_EQ(without, originalWithout);
    }
    if (original.activeThreadId) {
        EXPECT_TRUE(std::any_of(kept.begin(), kept.end(), [&](const auto &t) { return t.id == *original.activeThreadId; }));
    }

    const bool droppedThreads = kept.size() < original.threads.size();
    const std::size_t size = messageSize(result);
    if (size > ceiling) {
        // Only when nothing else can go.
        ASSERT_EQ(kept.size(), original.activeThreadId ? 1u : 0u);
        for (const auto &thread : kept)
            EXPECT_EQ(transcriptSize(thread), 0u);
    }
    if (droppedThreads) {
        for (const auto &thread : kept)
            EXPECT_EQ(transcriptSize(thread), 0u) << "threads go only once transcripts are empty";
    }
}

// The trimming order: threads other than the current one from the end, then the current one.
std::vector<std::size_t> trimmingOrder(const GlassesSnapshot &snapshot)
{
    std::vector<std::size_t> order;
    std::optional<std::size_t> current;
    for (std::size_t i = snapshot.threads.size(); i-- > 0;) {
        if (snapshot.activeThreadId && snapshot.threads[i].id == *snapshot.activeThreadId)
            current = i;
        else
            order.push_back(i);
    }
    if (current)
        order.push_back(*current);
    return order;
}

// Entries go strictly in order and no further than needed: in trimming order, emptied
// transcripts, then at most one cut, then untouched ones; putting back the newest dropped entry
// would pass the ceiling again.
void expectMinimalEntryTrimming(const GlassesSnapshot &original, const GlassesSnapshot &result,
                                std::size_t ceiling)
{
    ASSERT_EQ(result.threads.size(), original.threads.size());
    std::optional<std::size_t> lastTouched;
    bool untouchedSeen = false;
    for (auto i : trimmingOrder(original)) {
        const auto before = transcriptSize(original.threads[i]);
        const auto after = transcriptSize(result.threads[i]);
        if (after == before) {
            untouchedSeen = untouchedSeen || before > 0;
            continue;
        }
        EXPECT_FALSE(untouchedSeen) << "thread " << i << " was cut after an untouched one";
        if (lastTouched) {
            EXPECT_EQ(transcriptSize(result.threads[*lastTouched]), 0u);
        }
        lastTouched = i;
    }
    if (!lastTouched) {
        EXPECT_LE(messageSize(original), ceiling);
        return;
    }
    auto oneMore = result;
    auto &entries = *oneMore.threads[*lastTouched].transcript;
    const auto &all = *original.threads[*lastTouched].transcript;
    entries.insert(entries.begin(), all[all.size() - entries.size() - 1]);
    EXPECT_GT(messageSize(oneMore), ceiling);
}

TEST(SnapshotTrimmer, MeasuresTheMessageThePublisherSends)
{
    for (const auto &snapshot : {GlassesSnapshot{}, makeSnapshot(3, 5, 40, 1)}) {
        const boost::json::object message{{"type", "snapshot"}, {"snapshot", boost::json::value_from(snapshot)}};
        EXPECT_EQ(messageSize(snapshot), boost::json::serialize(message).size());
    }
}

// Putting back the last thread to go, the first in the list among those gone (with its
// emptied transcript), passes the ceiling again; where it goes does not change the size.
void expectFewestThreadsDropped(const GlassesSnapshot &original, const GlassesSnapshot &result,
                                std::size_t ceiling)
{
    auto restored = *std::find_if(original.threads.begin(), original.threads.end(), [&](const auto &t) {
        return std::none_of(result.threads.begin(), result.threads.end(),
                            [&](const auto &k) { return k.id == t.id; });
    });
    restored.transcript->clear();
    auto oneMore = result;
    oneMore.threads.push_back(restored);
    EXPECT_GT(messageSize(oneMore), ceiling);
}

// Every ceiling from nothing fitting to everything fitting, with the current thread first,
// inside, last or absent, so sizes kept by arithmetic would show any drift.
TEST(SnapshotTrimmer, EveryCeilingGetsTheLeastTrimming)
{
    for (const std::optional<std::size_t> current : {std::optional<std::size_t>(0), {2}, {5}, {}}) {
        const auto original = makeSnapshot(6, 8, 40, current, 300);
        const auto full = messageSize(original);
        for (std::size_t ceiling = 300; ceiling <= full + 10; ceiling += 23) {
            SCOPED_TRACE(testing::Message() << "current " << current.value_or(99) << ", ceiling " << ceiling);
            const auto result = fit(original, ceiling);
            expectTrimmedCorrectly(original, result, ceiling);
            if (result.threads.size() == original.threads.size())
                expectMinimalEntryTrimming(original, result, ceiling);
            else
                expectFewestThreadsDropped(original, result, ceiling);
            if (HasFailure())
                return;
        }
    }
}

TEST(SnapshotTrimmer, TwentyFullThreadsFitTheRealCeiling)
{
    const auto original = makeSnapshot(20, 100, 200, 7);
    ASSERT_GT(messageSize(original), SnapshotTrimmer::messageCeiling);
    const auto result = fit(original);
    EXPECT_LE(messageSize(result), SnapshotTrimmer::messageCeiling);
    expectTrimmedCorrectly(original, result, SnapshotTrimmer::messageCeiling);
    expectMinimalEntryTrimming(original, result, SnapshotTrimmer::messageCeiling);
    EXPECT_EQ(result.threads[7].transcript->size(), 100u) << "the current thread keeps its transcript";
}

} // namespace
} // namespace orvane
