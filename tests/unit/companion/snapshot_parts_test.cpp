#include "companion/snapshot_builder.h"
#include "companion/thread_ordering.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

namespace orvane {
namespace {

ThreadView thread(std::string id, ThreadState status, std::string updatedAt)
{
    ThreadView view;
    view.id = std::move(id);
    view.status = status;
    view.updatedAt = std::move(updatedAt);
    return view;
}

std::vector<std::string> ids(const std::vector<ThreadView> &threads)
{
    std::vector<std::string> result;
    for (const auto &t : threads)
        result.push_back(t.id);
    return result;
}

TEST(ThreadOrdering, ActiveFirstThenNewestWithTiesInListOrder)
{
    using enum ThreadState;
    std::vector<ThreadView> threads{
        thread("done-1005", finished, "2026-05-01T10:05:00.000Z"),
        thread("thinking-1000", thinking, "2026-05-01T10:00:00.000Z"),
        thread("done-1010", finished, "2026-05-01T10:10:00.000Z"),
        thread("tie-a", failed, "2026-05-01T09:00:00.000Z"),
        thread("unknown-1100", unknown, "2026-05-01T11:00:00.000Z"),
        thread("approval-0900", waitingForApproval, "2026-05-01T09:00:00.000Z"),
        thread("tie-b", stopped, "2026-05-01T09:00:00.000Z"),
        thread("queued-0930", queued, "2026-05-01T09:30:00.000Z"),
    };
    ThreadOrdering::sortForDisplay(threads);
    EXPECT_EQ(ids(threads), (std::vector<std::string>{"thinking-1000", "queued-0930", "approval-0900",
                                                      "unknown-1100", "done-1010", "done-1005", "tie-a",
                                                      "tie-b"}));
}

TEST(ThreadOrdering, ActiveStates)
{
    for (auto state : allThreadStates()) {
        const bool idle = state == ThreadState::finished || state == ThreadState::failed
            || state == ThreadState::stopped || state == ThreadState::unknown;
        EXPECT_EQ(ThreadOrdering::isActive(state), !idle) << rawValue(state);
    }
}

// Two readings of the clock, a moment apart.
std::function<DateFormatting::Clock::time_point()> twoTicks()
{
    return [tick = 0]() mutable {
        return *DateFormatting::parseIso("2026-05-01T09:30:00.000Z") + std::chrono::milliseconds(3 * tick++);
    };
}

TEST(SnapshotBuilder, CopiesTheModelAndTheClock)
{
    SnapshotSource source;
    source.codexConnected = true;
    source.codexVersion = "0.171.0";
    source.protocolVersion = "2";
    source.authenticationMode = "chatgpt";
    source.currentThreadId = "t1";
    source.threads = {thread("t1", ThreadState::thinking, "2026-05-01T09:00:00.000Z")};
    source.usage = UsageView{};
    source.usage->authenticationMode = "chatgpt";
    const auto snapshot = SnapshotBuilder::build(source, 7, twoTicks());
    EXPECT_EQ(snapshot.schemaVersion, 1);
    EXPECT_EQ(snapshot.sequence, 7);
    EXPECT_EQ(snapshot.companion, (CompanionHealth{true, "0.1.0", "0.171.0", "2", "chatgpt", true,
                                                   "2026-05-01T09:30:00.000Z"}));
    EXPECT_EQ(snapshot.generatedAt, "2026-05-01T09:30:00.003Z");
    EXPECT_EQ(snapshot.activeThreadId, "t1");
    EXPECT_EQ(snapshot.threads, source.threads);
    EXPECT_EQ(snapshot.usage, source.usage);
}

TEST(SnapshotBuilder, LeavesOutWhatIsNotThere)
{
    SnapshotSource source;
    source.protocolVersion = "2";
    source.usage = UsageView{};
    source.usageMetrics = false;
    const auto json = boost::json::parse(encode(SnapshotBuilder::build(source, 1, twoTicks()))).as_object();
    EXPECT_FALSE(json.contains("usage"));
    EXPECT_FALSE(json.contains("activeThreadId"));
    EXPECT_TRUE(json.at("threads").as_array().empty());
    EXPECT_FALSE(json.at("companion").as_object().contains("codexVersion"));
    EXPECT_EQ(json.at("companion").at("connected"), false);
    EXPECT_EQ(json.at("companion").at("authenticationMode"), "unknown");
}

} // namespace
} // namespace orvane
