#include "companion/refresh_trigger.h"

#include <waits.h>

#include <QCoroTimer>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::waitUntil;

// Stands in for the model: each refresh notes when it ran and ends after 50 ms (or `duration`).
struct Refreshes {
    struct Run {
        Clock::time_point start, end;
    };
    std::vector<Run> runs;
    std::chrono::milliseconds duration{50};

    QCoro::Task<void> refresh()
    {
        const auto index = runs.size();
        runs.push_back({Clock::now()});
        co_await QCoro::sleepFor(duration);
        runs[index].end = Clock::now();
    }
    std::size_t finished() const { return std::ranges::count_if(runs, [](const Run &run) { return run.end > run.start; }); }
    RefreshTrigger::Refresh callable() { return [this] { return refresh(); }; }
};

TEST(RefreshTrigger, CountsCodexWorkOnlyNeverOverlapsKeepsOneWaitingAndOutlivesItsOwner)
{
    for (auto method : {"thread/status/changed", "turn/started", "item/agentMessage/delta", "account/rateLimits/updated", "error"})
        EXPECT_TRUE(RefreshTrigger::startsRefresh(method, false)) << method;
    EXPECT_TRUE(RefreshTrigger::startsRefresh("deprecationNotice", true)) << "a server request";
    for (auto method : {"deprecationNotice", "configWarning", "remoteControl/status/changed", "", "thread", "threads/list", "errors"})
        EXPECT_FALSE(RefreshTrigger::startsRefresh(method, false)) << method;
    Refreshes refreshes;
    auto trigger = std::make_unique<RefreshTrigger>(refreshes.callable(), 0ms);
    for (int i = 0; i < 5; ++i)
        trigger->onMessage("item/agentMessage/delta", false);
    EXPECT_EQ(refreshes.runs.size(), 1u);
    // One more waited; the next would start as that one ends.
    ASSERT_TRUE(waitUntil([&] { return refreshes.finished() == 2; }));
    EXPECT_EQ(refreshes.runs.size(), 2u);
    EXPECT_GE(refreshes.runs[1].start, refreshes.runs[0].end);

    // Gone while one runs and one waits: neither the trigger nor the waiting one is touched.
    trigger->onMessage("turn/started", false);
    trigger->onMessage("turn/completed", false);
    trigger.reset();
    ASSERT_TRUE(waitUntil([&] { return refreshes.finished() == 3; }));
    EXPECT_EQ(refreshes.runs.size(), 3u);
}

TEST(RefreshTrigger, FloodOfDeltasIsSpacedAndFollowedByARefresh)
{
    Refreshes refreshes;
    refreshes.duration = 150ms;
    RefreshTrigger trigger(refreshes.callable()); // the real one-second spacing

    // 100 deltas over about 0.4 seconds, as a streamed answer at its peak: unspaced, the 150 ms
    // refreshes would run back to back.
    std::vector<Clock::time_point> arrivals;
    QTimer stream;
    QObject::connect(&stream, &QTimer::timeout, [&] {
        arrivals.push_back(Clock::now());
        trigger.onMessage("item/agentMessage/delta", false);
        if (arrivals.size() == 100)
            stream.stop();
    });
    stream.start(4ms);
    const auto &runs = refreshes.runs;
    ASSERT_TRUE(waitUntil([&] { return arrivals.size() == 100 && runs.back().end > runs.back().start && runs.back().start > arrivals.back(); }));

    EXPECT_LE(runs.size(), std::size_t((arrivals.back() - arrivals.front()) / 1s) + 2);
    for (std::size_t i = 1; i < runs.size(); ++i) {
        EXPECT_GE(runs[i].start, runs[i - 1].end) << "refresh " << i << " overlapped";
        // A refresh notes its start a moment after the trigger does: allow that moment.
        EXPECT_GE(runs[i].start - runs[i - 1].start, 999ms) << "refresh " << i << " came too soon";
    }
}

} // namespace
} // namespace orvane
