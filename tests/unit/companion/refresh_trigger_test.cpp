#include "companion/refresh_trigger.h"

#include <waits.h>

#include <QCoroTimer>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::waitUntil;

// Stands in for the model: each refresh notes when it ran and ends after 50 ms.
struct Refreshes {
    struct Run {
        Clock::time_point start, end;
    };
    std::vector<Run> runs;

    QCoro::Task<void> refresh()
    {
        const auto index = runs.size();
        runs.push_back({Clock::now()});
        co_await QCoro::sleepFor(50ms);
        runs[index].end = Clock::now();
    }
    std::size_t finished() const { return std::ranges::count_if(runs, [](const Run &run) { return run.end > run.start; }); }
    RefreshTrigger::Refresh callable() { return [this] { return refresh(); }; }
};

TEST(RefreshTrigger, CountsCodexWorkOnlyNeverOverlapsKeepsOneWaitingOutlivesItsOwnerAndSpacesRuns)
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

    // With the real spacing, a notice just after a refresh ended waits out the second since it began.
    RefreshTrigger spaced(refreshes.callable());
    for (std::size_t run = 3; run < 5; ++run) {
        spaced.onMessage("item/agentMessage/delta", false);
        ASSERT_TRUE(waitUntil([&] { return refreshes.finished() == run + 1; }));
    }
    // A refresh notes its start a moment after the trigger does: allow that moment.
    EXPECT_GE(refreshes.runs[4].start - refreshes.runs[3].start, 999ms);
}

} // namespace
} // namespace orvane
