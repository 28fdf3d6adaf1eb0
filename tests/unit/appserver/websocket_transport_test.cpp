// The transport and the client speaking WebSocket through a proxy child: the fake App Server's
// proxy mode plays the daemon over real pipes.
#include "appserver/app_server_client.h"
#include "appserver/app_server_error.h"
#include "appserver/app_server_transport.h"
#include "appserver/websocket_framing.h"

#include "await_task.h"
#include "fake_codex.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace orvane {
namespace {

using namespace std::chrono_literals;
namespace json = boost::json;

using test::awaitTask;
using test::FakeCodex;

const std::string timedOut = AppServerError::timeout().what();
const std::string disconnected = AppServerError::disconnected().what();

json::object proxySession(json::object session) { return {{"proxy", std::move(session)}}; }

void startProxy(AppServerTransport &transport)
{
    awaitTask(transport.start(FakeCodex::executable(), {"app-server", "proxy"},
                              std::make_unique<WebSocketFraming>()));
}

// The value a request ended with, or the text of the error it failed with.
struct Outcome {
    std::optional<json::value> value;
    std::string error;
};

Outcome outcomeOf(QCoro::Task<json::value> request)
{
    auto wrapped = [](QCoro::Task<json::value> inner) -> QCoro::Task<Outcome> {
        // Awaited apart from the braces: GCC 12 destroys a co_await result inside an aggregate
        // initializer twice.
        try {
            auto value = co_await std::move(inner);
            co_return Outcome{std::move(value), {}};
        } catch (const std::exception &error) {
            co_return Outcome{std::nullopt, error.what()};
        }
    };
    return awaitTask(wrapped(std::move(request)));
}

bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds limit)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

std::vector<std::string> logged(const FakeCodex &fake, std::string_view event, std::string_view member = {})
{
    std::vector<std::string> found;
    for (const auto &entry : fake.events())
        if (entry.at("event").as_string() == event)
            found.emplace_back(member.empty() ? "" : std::string(entry.at(member).as_string()));
    return found;
}

json::value padded(std::size_t size)
{
    return {{"ok", true}, {"padding", std::string(size, 'x')}};
}

struct FrameCase {
    const char *name;
    json::object reply; // the fake daemon's answer to the one request
    std::optional<json::value> value;
    std::string error;
    std::vector<std::string> events; // notifications after the opening one, in order
    std::vector<std::string> pongs;  // pong payloads the fake received
    bool ends = false;               // a close frame or a framing failure ends the child
};

const json::object notice{{"method", "thread/status/changed"}, {"params", {{"threadId", "t1"}}}};

const std::vector<FrameCase> frameCases = {
    {"split_frames", {{"result", {{"ok", true}}}, {"padding", 300}, {"chunks", 5}}, padded(300), "", {}, {}},
    {"joined_frames", {{"before", {notice, R"({"method":"bare"})"}}, {"result", 1}}, json::value(1), "",
     {"thread/status/changed", "bare"}, {}},
    {"length_16_bit", {{"result", {{"ok", true}}}, {"padding", 1000}}, padded(1000), "", {}, {}},
    {"length_64_bit_split", {{"result", {{"ok", true}}}, {"padding", 3 << 20}, {"chunks", 3}},
     padded(3 << 20), "", {}, {}},
    {"ping_between_messages", {{"ping", "keepalive"}, {"result", 1}}, json::value(1), "",
     {}, {"keepalive"}},
    {"close_after_response", {{"result", 1}, {"close", 1000}}, json::value(1), "",
     {}, {}, true},
    {"close_instead_of_response", {{"silent", true}, {"close", 1001}}, std::nullopt, disconnected,
     {}, {}, true},
    {"message_over_the_limit", {{"silent", true}, {"flood", (64 << 20) + 1}}, std::nullopt, disconnected,
     {}, {}, true},
};

class ProxyFrames : public testing::TestWithParam<FrameCase> {};

TEST_P(ProxyFrames, CarryEachMessageAsOneFrame)
{
    const auto &row = GetParam();
    // The daemon's first notification waits for the upgrade, then precedes every answer.
    const json::object started{{"method", "remoteControl/status/changed"}, {"params", {{"status", "disabled"}}}};
    FakeCodex fake(proxySession({{"onStart", {started}}, {"methods", {{"probe", row.reply}}}}));
    AppServerTransport transport(10s);
    std::vector<std::string> events;
    transport.eventHandler = [&](const std::string &method, const std::optional<json::value> &) {
        events.push_back(method);
    };
    startProxy(transport);
    const auto outcome = outcomeOf(transport.request("probe", json::value{{"limit", 1}}));
    EXPECT_EQ(outcome.value, row.value);
    EXPECT_EQ(outcome.error, row.error);
    auto expectedEvents = row.events;
    expectedEvents.insert(expectedEvents.begin(), "remoteControl/status/changed");
    EXPECT_EQ(events, expectedEvents);

    EXPECT_EQ(waitUntil([&] { return !transport.isRunning(); }, row.ends ? 5s : 0ms), row.ends);
    if (!row.pongs.empty())
        EXPECT_TRUE(waitUntil([&] { return !logged(fake, "pong").empty(); }, 5s));
    EXPECT_EQ(logged(fake, "pong", "payload"), row.pongs);
    transport.disconnect();
    // The fake's server-side codec refuses unmasked frames; the request came through whole.
    EXPECT_TRUE(logged(fake, "badFrame").empty());
    EXPECT_EQ(fake.received(), std::vector<std::string>{R"({"method":"probe","id":1,"params":{"limit":1}})"});
}

INSTANTIATE_TEST_SUITE_P(Daemon, ProxyFrames, testing::ValuesIn(frameCases),
                         [](const auto &info) { return std::string(info.param.name); });

struct HandshakeCase {
    const char *answer; // how the fake daemon answers the upgrade
    std::string error;  // what starting the transport throws, empty for none
};

class ProxyHandshake : public testing::TestWithParam<HandshakeCase> {};

TEST_P(ProxyHandshake, OnlyAMatchingUpgradeStartsTheTransport)
{
    const auto &row = GetParam();
    FakeCodex fake(proxySession({{"handshake", row.answer}, {"default", {{"result", 1}}}}));
    AppServerTransport transport(400ms);
    std::string error;
    try {
        startProxy(transport);
    } catch (const AppServerError &failure) {
        error = failure.what();
    }
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(transport.isRunning(), row.error.empty());
    if (row.error.empty()) {
        EXPECT_EQ(outcomeOf(transport.request("ping")).value, json::value(1));
    }
    transport.disconnect();
    // Nothing is sent before the upgrade is accepted.
    EXPECT_EQ(fake.received().size(), row.error.empty() ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Answers, ProxyHandshake,
                         testing::Values(HandshakeCase{"accept", ""}, HandshakeCase{"wrongKey", disconnected},
                                         HandshakeCase{"notUpgraded", disconnected},
                                         HandshakeCase{"silent", timedOut}),
                         [](const auto &info) { return std::string(info.param.answer); });

// With a daemon, the client goes through the proxy; a failed upgrade, or a proxy that exits at
// once (the daemon went away after the probe), falls back to a dedicated child.
class ProxyConnect : public testing::TestWithParam<const char *> {};

TEST_P(ProxyConnect, FallsBackToADedicatedChildWhenTheUpgradeFails)
{
    const std::string answer = GetParam();
    const json::object initialized{{"result", {{"userAgent", "fake"}}}};
    json::object scenario{{"daemon", {{"output", "{\"status\":\"running\"}\n"}, {"exitCode", 0}}},
                          {"stdio", {{"methods", {{"initialize", initialized}}}}}};
    if (answer != "exits")
        scenario["proxy"] = {{"handshake", answer}, {"methods", {{"initialize", initialized}}}};
    FakeCodex fake(scenario);
    AppServerClientOptions options;
    options.requestTimeout = 500ms;
    AppServerClient client(options);
    const auto result = awaitTask(client.connect());
    EXPECT_EQ(result, initialized.at("result"));
    const bool proxied = answer == "accept";
    EXPECT_EQ(client.connectionMode(), proxied ? "Managed daemon proxy" : "Dedicated stdio");

    auto expectedLaunches = std::vector<std::string>{"--version", "app-server daemon version", "app-server proxy"};
    if (!proxied)
        expectedLaunches.emplace_back("app-server --stdio");
    EXPECT_EQ(fake.launches(), expectedLaunches);
    ASSERT_TRUE(waitUntil([&] { return fake.received().size() >= 2; }, 5s));
    client.disconnect();
    const auto received = fake.received();
    ASSERT_EQ(received.size(), 2u) << "initialize and initialized, to the one child that answered";
    EXPECT_NE(received[0].find(R"("method":"initialize")"), std::string::npos);
    EXPECT_EQ(received[1], R"({"method":"initialized"})");
}

INSTANTIATE_TEST_SUITE_P(Answers, ProxyConnect,
                         testing::Values("accept", "wrongKey", "notUpgraded", "silent", "exits"));

} // namespace
} // namespace orvane
