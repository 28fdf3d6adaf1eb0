#include "companion/refresh_trigger.h"

#include <gtest/gtest.h>

#include <QCoroSignal>
#include <QCoroTimer>
#include <QEventLoop>
#include <QTimer>

#include <memory>
#include <vector>

namespace orvane {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// Runs the event loop until `done` holds; fails the test after `limit`.
template <typename Predicate>
void runUntil(Predicate done, std::chrono::milliseconds limit = 10s)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done())
            loop.quit();
    });
    check.start(1ms);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &loop, &QEventLoop::quit);
    watchdog.start(limit);
    if (!done())
        loop.exec();
    ASSERT_TRUE(done()) << "condition not reached in time";
}

class Gate : public QObject
{
    Q_OBJECT
signals:
    void opened();
};

// Stands in for the model: each refresh records when it ran and finishes when told to.
struct Refreshes {
    struct Run {
        SteadyClock::time_point start, end;
        bool finished = false;
    };
    std::vector<Run> runs;
    Gate gate;
    std::chrono::milliseconds duration{0}; // 0: wait for the gate
    std::function<void()> duringRun;

    QCoro::Task<void> refresh()
    {
        const auto index = runs.size();
        runs.push_back({SteadyClock::now(), {}, false});
        if (duringRun)
            duringRun();
        if (duration > 0ms)
            co_await QCoro::sleepFor(duration);
        else
            co_await qCoro(&gate, &Gate::opened);
        runs[index].end = SteadyClock::now();
        runs[index].finished = true;
    }
    std::size_t finished() const
    {
        return std::count_if(runs.begin(), runs.end(), [](const auto &run) { return run.finished; });
    }
    RefreshTrigger::Refresh callable()
    {
        return [this] { return refresh(); };
    }
};

TEST(RefreshTrigger, OnlyMessagesAboutCodexWorkCount)
{
    const std::vector<std::pair<std::string_view, bool>> counted{
        {"thread/status/changed", false}, {"turn/started", false}, {"turn/completed", false},
        {"item/agentMessage/delta", false}, {"item/completed", false},
        {"account/rateLimits/updated", false}, {"error", false},
        {"item/commandExecution/requestApproval", true}, {"deprecationNotice", true}};
    const std::vector<std::string_view> ignored{"deprecationNotice", "configWarning",
                                                "remoteControl/status/changed", "", "thread",
                                                "threads/list", "errors", "Error", "mcpServer/startupStatus"};
    for (const auto &[method, request] : counted)
        EXPECT_TRUE(RefreshTrigger::startsRefresh(method, request)) << method;
    for (auto method : ignored)
        EXPECT_FALSE(RefreshTrigger::startsRefresh(method, false)) << method;
}

TEST(RefreshTrigger, AtMostOneWaitsWhileOneRuns)
{
    Refreshes refreshes;
    RefreshTrigger trigger(refreshes.callable(), 0ms);
    trigger.onMessage("turn/started", false);
    ASSERT_EQ(refreshes.runs.size(), 1u);
    for (int i = 0; i < 5; ++i)
        trigger.onMessage("item/agentMessage/delta", false);
    EXPECT_EQ(refreshes.runs.size(), 1u) << "refreshes never overlap";

    emit refreshes.gate.opened();
    runUntil([&] { return refreshes.runs.size() == 2; });
    EXPECT_EQ(refreshes.finished(), 1u);

    // Nothing arrived during the second: it is the last.
    emit refreshes.gate.opened();
    runUntil([&] { return refreshes.finished() == 2; });
    trigger.onMessage("configWarning", false);
    EXPECT_EQ(refreshes.runs.size(), 2u);
}

TEST(RefreshTrigger, ReadNoticesDuringARefreshStartNoOther)
{
    Refreshes refreshes;
    refreshes.duration = 20ms;
    RefreshTrigger trigger(refreshes.callable(), 10ms);
    // Each of the refresh's twenty reads is answered by a deprecation notice.
    refreshes.duringRun = [&] {
        for (int i = 0; i < 20; ++i)
            trigger.onMessage("deprecationNotice", false);
    };
    trigger.onMessage("thread/status/changed", false);
    runUntil([&] { return refreshes.finished() == 1; });
    // Long enough for a wrongly counted notice to have started another (10 ms spacing).
    QEventLoop settle;
    QTimer::singleShot(200ms, &settle, &QEventLoop::quit);
    settle.exec();
    EXPECT_EQ(refreshes.runs.size(), 1u);
}

TEST(RefreshTrigger, FloodOfDeltasIsSpacedAndFollowedByARefresh)
{
    Refreshes refreshes;
    refreshes.duration = 150ms;
    RefreshTrigger trigger(refreshes.callable()); // the real one-second spacing

    // 400 deltas over about 1.6 seconds, as a streamed answer at peak.
    std::vector<SteadyClock::time_point> arrivals;
    QTimer stream;
    QObject::connect(&stream, &QTimer::timeout, [&] {
        arrivals.push_back(SteadyClock::now());
        trigger.onMessage("item/agentMessage/delta", false);
        if (arrivals.size() == 400)
            stream.stop();
    });
    stream.start(4ms);
    runUntil([&] {
        return arrivals.size() == 400 && !refreshes.runs.empty() && refreshes.runs.back().finished
            && refreshes.runs.back().start > arrivals.back();
    });

    const auto &runs = refreshes.runs;
    const auto streamLength = arrivals.back() - arrivals.front();
    EXPECT_LE(runs.size(), std::size_t(streamLength / 1s) + 2);
    EXPECT_GE(runs.size(), 2u);
    for (std::size_t i = 1; i < runs.size(); ++i) {
        EXPECT_GE(runs[i].start, runs[i - 1].end) << "refresh " << i << " overlapped";
        // A refresh notes its start a moment after the trigger does: allow that moment.
        EXPECT_GE(runs[i].start - runs[i - 1].start, 999ms) << "refresh " << i << " came too soon";
    }
}

TEST(RefreshTrigger, GoneWhileARefreshRuns)
{
    Refreshes refreshes;
    auto trigger = std::make_unique<RefreshTrigger>(refreshes.callable(), 0ms);
    trigger->onMessage("turn/started", false);
    trigger->onMessage("turn/completed", false);
    trigger.reset();
    emit refreshes.gate.opened();
    runUntil([&] { return refreshes.finished() == 1; });
    EXPECT_EQ(refreshes.runs.size(), 1u);
}

} // namespace
} // namespace orvane

#include "refresh_trigger_test.moc"
