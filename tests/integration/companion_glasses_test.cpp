// What the glasses receive from the model, the fake App Server playing Codex.
#include "companion_harness.h"
#include "fake_codex.h"
#include "fake_notification_server.h"

#include "companion/settings_store.h"
#include "companion/snapshot_trimmer.h"

#include <gtest/gtest.h>

#include <set>

namespace orvane::test {
namespace {

std::set<std::string> keys(const json::object &object)
{
    std::set<std::string> names;
    for (const auto &member : object)
        names.emplace(member.key());
    return names;
}

const json::object *threadById(const json::object &snapshot, std::string_view id)
{
    for (const auto &thread : snapshot.at("threads").as_array())
        if (thread.at("id").as_string() == id)
            return &thread.as_object();
    return nullptr;
}


TEST(CompanionGlasses, SeeTwentyOrderedThreadsWithExactKeysAndConsecutiveSequences)
{
    constexpr std::int64_t ten = 1796594400; // 10:00
    // The App Server lists 25 threads, ignoring the limit; one cannot be read in full.
    std::vector<ThreadShape> threads{{"t-early", "finished", ten + 300},
                                    {"t-think", "thinking", ten},
                                    {"t-late", "finished", ten + 600},
                                    {"t-broken", "finished", ten - 100}};
    for (int index = 0; threads.size() < 25; ++index)
        threads.push_back({"filler-" + std::to_string(index), "finished", ten - 1000 - index * 10});
    auto stdio = session(threads);
    stdio["methods"].as_object()["thread/read#t-broken"] = json::object{{"error", {{"code", -32603}, {"message", "rollout unreadable"}}}};
    FakeCodex codex({{"stdio", stdio}});
    FakeNotificationServer notifications;
    ASSERT_TRUE(notifications.start());
    SharingSettings settings;
    settings.nativeNotifications = true;
    SettingsStore::save(settings);
    Glasses glasses;

    auto model = std::make_unique<CompanionModel>(testOptions(std::chrono::milliseconds(300)));
    ASSERT_TRUE(model->paired());
    model->start();
    ASSERT_TRUE(glasses.connect());
    const auto first = glasses.connectedSnapshot();
    ASSERT_TRUE(first);

    EXPECT_EQ(keys(*first), (std::set<std::string>{"schemaVersion", "generatedAt", "sequence", "companion",
                                                    "activeThreadId", "threads", "usage"}));
    const auto &health = first->at("companion").as_object();
    EXPECT_EQ(keys(health), (std::set<std::string>{"connected", "version", "codexVersion", "protocolVersion",
                                                   "authenticationMode", "cancellationSupported", "lastHeartbeatAt",
                                                   "connectionMode"}));
    EXPECT_EQ(health.at("codexVersion"), "codex-cli 0.0.0-fake");
    EXPECT_EQ(health.at("connectionMode"), "Dedicated stdio");
    EXPECT_EQ(health.at("authenticationMode"), json::value(model->authenticationMode()));
    EXPECT_NE(model->authenticationMode(), "unknown");

    // Active first, then the most recently updated; only the first 20 listed are read.
    const auto &shown = first->at("threads").as_array();
    ASSERT_EQ(shown.size(), 20u);
    EXPECT_EQ(json::array({shown[0].at("id"), shown[1].at("id"), shown[2].at("id")}), json::array({"t-think", "t-late", "t-early"}));
    EXPECT_EQ(first->at("activeThreadId"), "t-think");
    const auto *broken = threadById(*first, "t-broken");
    ASSERT_NE(broken, nullptr);
    EXPECT_EQ(broken->at("title"), "Task t-broken");
    EXPECT_EQ(threadById(*first, "t-think")->at("model"), "gpt-from-config");
    EXPECT_EQ(threadById(*first, "t-think")->at("reasoningEffort"), "high");
    const auto received = codex.received();
    const auto lists = requests(received, "thread/list");
    ASSERT_FALSE(lists.empty());
    EXPECT_EQ(lists.front().at("params").at("limit"), 20);
    std::set<std::string> read;
    for (const auto &request : requests(received, "thread/read"))
        read.emplace(request.at("params").at("threadId").as_string());
    EXPECT_TRUE(read.contains("t-broken"));
    for (std::size_t index = 20; index < threads.size(); ++index)
        EXPECT_FALSE(read.contains(threads[index].id)) << threads[index].id;

    const auto second = nextSnapshot(glasses.socket);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->at("sequence").as_int64(), first->at("sequence").as_int64() + 1);

    // One notification per thread that reached a notified state, none for the same state again.
    const std::set<std::string> notifiedStates{"finished", "failed", "stopped", "waiting_for_approval", "waiting_for_user"};
    const auto expected = std::count_if(shown.begin(), shown.end(), [&](const json::value &thread) {
        return notifiedStates.contains(std::string(thread.at("status").as_string()));
    });
    EXPECT_GT(expected, 0);
    EXPECT_EQ(notifications.calls().size(), std::size_t(expected));

    // Usage sharing off: stored at once, and the next snapshot has no usage at all.
    settings.usageMetrics = false;
    model->setSettings(settings);
    EXPECT_EQ(SettingsStore::load(), settings);
    auto later = nextSnapshot(glasses.socket);
    ASSERT_TRUE(later);
    EXPECT_FALSE(later->contains("usage"));
    EXPECT_TRUE(model->usage().has_value());
    EXPECT_EQ(notifications.calls().size(), std::size_t(expected));
    destroyWhenIdle(model);
}

TEST(CompanionGlasses, LearnEveryCycleThatCodexIsMissing)
{
    qputenv("ORVANE_CODEX", "/nonexistent/orvane-test/codex");
    Glasses glasses;
    auto model = std::make_unique<CompanionModel>(testOptions(std::chrono::milliseconds(200)));
    model->start();
    ASSERT_TRUE(glasses.connect());
    std::optional<std::int64_t> previous;
    for (int cycle = 0; cycle < 3; ++cycle) {
        const auto snapshot = nextSnapshot(glasses.socket);
        ASSERT_TRUE(snapshot);
        EXPECT_FALSE(snapshot->at("companion").at("connected").as_bool());
        EXPECT_FALSE(snapshot->contains("activeThreadId"));
        EXPECT_TRUE(snapshot->at("threads").as_array().empty());
        if (previous) {
            EXPECT_GT(snapshot->at("sequence").as_int64(), *previous);
        }
        previous = snapshot->at("sequence").as_int64();
    }
    EXPECT_EQ(model->lastError(), "Codex was not found. Install or update the official Codex app or CLI.");
    EXPECT_FALSE(model->codexConnected());
    EXPECT_FALSE(model->lastSync().has_value());
    destroyWhenIdle(model);
    qunsetenv("ORVANE_CODEX");
}

TEST(CompanionGlasses, ReceiveAnOversizedSnapshotTrimmedWithTheCurrentThreadsNewestEntries)
{
    std::vector<ThreadShape> threads;
    for (int index = 0; index < 20; ++index)
        threads.push_back({"big-" + std::to_string(index), index == 7 ? "thinking" : "finished",
                           1796594400 - index * 60, 60, 4000});
    FakeCodex codex({{"stdio", session(threads)}});
    Glasses glasses;
    auto model = std::make_unique<CompanionModel>(testOptions());
    model->start();
    ASSERT_TRUE(glasses.connect());
    const auto snapshot = glasses.connectedSnapshot();
    ASSERT_TRUE(snapshot);

    EXPECT_LE(json::serialize(json::object{{"type", "snapshot"}, {"snapshot", *snapshot}}).size(),
              SnapshotTrimmer::messageCeiling);
    EXPECT_EQ(snapshot->at("activeThreadId"), "big-7");
    const auto *current = threadById(*snapshot, "big-7");
    ASSERT_NE(current, nullptr);
    const auto &transcript = current->at("transcript").as_array();
    ASSERT_FALSE(transcript.empty());
    EXPECT_EQ(transcript.back().at("id"), "big-7-59");
    // The others gave way first: the current thread keeps more than the last one shown.
    const auto &last = snapshot->at("threads").as_array().back().as_object();
    const auto *lastTranscript = last.if_contains("transcript");
    EXPECT_TRUE(!lastTranscript || lastTranscript->as_array().size() < transcript.size());
    EXPECT_GT(model->eventCount(), 0);
    model.reset();
}

} // namespace
} // namespace orvane::test
