// Commands from the glasses and refreshes started by App Server messages, end to end.
#include "companion_harness.h"
#include "fake_codex.h"

#include "model/date_formatting.h"

#include <await_task.h>
#include <gtest/gtest.h>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;

std::int64_t sequenceOf(const json::object &message)
{
    return message.at(message.at("type") == "event" ? "event" : "snapshot").at("sequence").as_int64();
}

TEST(CompanionCommands, AreCheckedAnsweredAndNumberedOnTheSharedSequence)
{
    std::vector<ThreadShape> threads{{"t-run", "thinking", 1796594400}, {"t-done", "finished", 1796594000}};
    auto stdio = session(threads);
    stdio["methods"].as_object()["turn/interrupt#t-done"] =
        json::object{{"error", {{"code", -32600}, {"message", "no active turn to interrupt"}}}};
    FakeCodex codex({{"stdio", stdio}});
    Glasses glasses;
    auto model = std::make_unique<CompanionModel>(testOptions());
    model->start();
    ASSERT_TRUE(glasses.connect());
    const auto first = glasses.connectedSnapshot();
    ASSERT_TRUE(first);
    auto sequence = first->at("sequence").as_int64();

    // Each of these is dropped without an answer, so the snapshot asked for next comes first.
    auto stale = command("request_snapshot", "6B29FC40-CA47-1067-B31D-00DD010662DB", std::chrono::seconds(-1));
    auto fractional = command("request_snapshot");
    fractional["expiresAt"] = DateFormatting::iso(std::chrono::system_clock::now() + std::chrono::minutes(1));
    auto longThread = command("stop_thread");
    longThread["threadId"] = std::string(129, 't');
    for (const auto &dropped : {command("shell"), command("request_snapshot", "abc"), stale, fractional, longThread})
        glasses.sendCommand(dropped);
    glasses.sendCommand(command("request_snapshot"));
    auto answer = nextOfType(glasses.socket, "snapshot", 15s, true);
    ASSERT_TRUE(answer);
    EXPECT_EQ(sequenceOf(*answer), ++sequence);

    // A stop for a thread without a recorded turn: "unsupported", and Codex is not asked.
    auto unknown = command("stop_thread");
    unknown["threadId"] = std::string(128, 'u');
    glasses.sendCommand(unknown);
    auto unsupported = nextOfType(glasses.socket, "event", 15s, true);
    ASSERT_TRUE(unsupported);
    EXPECT_EQ(unsupported->at("event").at("status"), "unsupported");
    EXPECT_EQ(unsupported->at("event").at("message"), "No cancellable active turn is available.");
    EXPECT_EQ(unsupported->at("event").at("commandId"), "6B29FC40-CA47-1067-B31D-00DD010662DA");
    EXPECT_EQ(sequenceOf(*unsupported), ++sequence);
    glasses.sendCommand(command("request_snapshot"));
    answer = nextOfType(glasses.socket, "snapshot", 15s, true);
    ASSERT_TRUE(answer);
    EXPECT_EQ(sequenceOf(*answer), ++sequence); // the result took a number: snapshots n, n+2
    EXPECT_TRUE(requests(codex.received(), "turn/interrupt").empty());

    auto refused = command("stop_thread");
    refused["threadId"] = "t-done";
    glasses.sendCommand(refused);
    auto failed = nextOfType(glasses.socket, "event", 15s, true);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->at("event").at("status"), "failed");
    EXPECT_EQ(failed->at("event").at("message"), "Codex could not be stopped: no active turn to interrupt");

    auto stop = command("stop_thread");
    stop["threadId"] = "t-run";
    const auto listsBefore = requests(codex.received(), "thread/list").size();
    glasses.sendCommand(stop);
    auto succeeded = nextOfType(glasses.socket, "event", 15s, true);
    ASSERT_TRUE(succeeded);
    EXPECT_EQ(succeeded->at("event").at("status"), "succeeded");
    EXPECT_EQ(succeeded->at("event").at("message"), "Codex was asked to stop.");
    EXPECT_TRUE(nextOfType(glasses.socket, "snapshot", 15s, true)); // from the refresh that follows
    const auto interrupts = requests(codex.received(), "turn/interrupt");
    ASSERT_EQ(interrupts.size(), 2u);
    EXPECT_EQ(interrupts[1].at("params"), (json::object{{"threadId", "t-run"}, {"turnId", turnId("t-run")}}));
    EXPECT_EQ(requests(codex.received(), "thread/list").size(), listsBefore + 1);
    model.reset();
}

TEST(CompanionRefreshTriggering, IgnoresReadNoticesAndSpacesOutAFloodOfDeltas)
{
    std::vector<ThreadShape> threads{{"t-a", "thinking", 1796594400}, {"t-b"}, {"t-c"}};
    auto stdio = session(threads);
    auto &methods = stdio["methods"].as_object();
    // As the real App Server does: a deprecation notice after every thread read.
    for (const auto &shape : threads)
        methods["thread/read#" + shape.id].as_object()["after"] = json::array{
            json::object{{"method", "deprecationNotice"}, {"params", {{"summary", "thread/read is deprecated"}}}}};
    json::array deltas;
    for (int index = 0; index < 300; ++index)
        deltas.push_back(json::object{{"method", "item/agentMessage/delta"},
                                      {"params", {{"threadId", "t-a"}, {"delta", "word "}}}});
    auto list = methods["thread/list"].as_object();
    auto flooding = list;
    flooding["after"] = std::move(deltas);
    flooding["chunks"] = 30; // about 0.9 s of deltas
    methods["thread/list"] = json::array{list, list, flooding, list};
    // A server request (it carries an id) at start starts one refresh; the status notice none.
    stdio["onStart"] = json::array{json::object{{"method", "remoteControl/status/changed"}, {"params", {{"status", "off"}}}},
                                   json::object{{"id", "server-1"}, {"method", "custom/question"}, {"params", json::object()}}};
    FakeCodex codex({{"stdio", stdio}});
    auto model = std::make_unique<CompanionModel>(testOptions());
    model->start();
    const auto lists = [&] { return requests(codex.received(), "thread/list").size(); };
    ASSERT_TRUE(waitUntil([&] { return lists() == 2 && model->lastSync(); }));
    // Six deprecation notices came back; none of them refreshes.
    QEventLoop pause;
    QTimer::singleShot(2500, &pause, &QEventLoop::quit);
    pause.exec();
    EXPECT_EQ(lists(), 2u);
    EXPECT_EQ(requests(codex.received(), "thread/read").size(), 6u);

    // The user's refresh brings the flood: notification-driven refreshes never overlap and start
    // a second apart, so 300 deltas within a second lead to one or two, the last after them.
    awaitTask(model->refresh());
    QTimer::singleShot(3500, &pause, &QEventLoop::quit);
    pause.exec();
    const auto driven = lists() - 3;
    EXPECT_GE(driven, 1u);
    EXPECT_LE(driven, 2u);
    model.reset();
}

} // namespace
} // namespace orvane::test
