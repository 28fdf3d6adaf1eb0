// The transport and the client against the fake App Server over real pipes.
#include "appserver/app_server_client.h"
#include "appserver/app_server_error.h"
#include "appserver/line_framing.h"
#include "appserver/websocket_framing.h"

#include "fake_codex.h"
#include "process_harness.h"

#include <gtest/gtest.h>

#include <fixture.h>

#include <csignal>

namespace orvane {
namespace {

using namespace std::chrono_literals;
using namespace test;
namespace json = boost::json;

const std::string timedOut = AppServerError::timeout().what();
const std::string disconnected = AppServerError::disconnected().what();
const std::string unsupported = AppServerError::invalidResponse().what();

// The text of the error a task ended with; empty when it succeeded.
template <typename T>
std::string errorOf(QCoro::Task<T> task)
{
    try {
        awaitTask(std::move(task));
    } catch (const std::exception &error) {
        return error.what();
    }
    return {};
}

// A 4 MB line cap, so a flood reaches it soon.
void start(AppServerTransport &transport)
{
    auto framing = std::make_unique<LineFraming>(4 << 20);
    awaitTask(transport.start(FakeCodex::executable(), {"app-server", "--stdio"}, std::move(framing)));
}

// One transport through one fake's story: a start that fails, events, a late answer, ids across a
// restart, each answer of requests.json, the proxy, and a child that stops reading.
TEST(Transport, StartsAnswersDeliversEventsAndFailsFastOverPipesAndThroughTheProxy)
{
    const auto story = fixture("transport.json");
    auto scenario = story.at("scenario").as_object();
    const auto rows = fixture("requests.json").as_array();
    for (std::size_t i = 0; i < rows.size(); ++i)
        scenario["stdio"].as_object()["methods"].as_object()[std::to_string(i)] = rows[i].at("reply");
    FakeCodex fake(scenario);
    AppServerTransport transport(2s);
    EXPECT_THROW(awaitTask(transport.start("/nonexistent/codex", {}, std::make_unique<LineFraming>())), ProcessLaunchError);

    std::vector<std::string> events; // each method, and its params when there are any
    transport.eventHandler = [&](const std::string &method, const auto &params, bool) {
        events.push_back(method + (params ? json::serialize(*params) : ""));
    };
    start(transport);
    EXPECT_EQ(awaitTask(transport.request("ping")), json::value(1));
    EXPECT_EQ(errorOf(transport.request("slow")), timedOut);
    // The marker comes in the same write as the late answer, so the answer has been seen.
    ASSERT_TRUE(waitUntil([&] { return events.size() == 3; }));
    transport.notify("bare");
    transport.notify("given", json::value{{"x", 1}});
    EXPECT_EQ(awaitTask(transport.request("ping", json::value{{"limit", 1}})), json::value(1));
    transport.disconnect();
    EXPECT_EQ(errorOf(transport.request("idle")), disconnected);
    start(transport);
    awaitTask(transport.request("ping"));
    // The server requests were never answered.
    EXPECT_EQ(json::value_from(fake.received()), story.at("received"));

    // The rows are answers to methods of their own; the last ends the child.
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto &row = rows[i].as_object();
        if (const auto *value = row.if_contains("value"))
            EXPECT_EQ(awaitTask(transport.request(std::to_string(i))), *value) << "row " << i;
        else
            EXPECT_EQ(errorOf(transport.request(std::to_string(i))), row.at("error").as_string()) << "row " << i;
    }

    // The opening notification waits for the upgrade, each message travels as one frame, the
    // pong goes back to the child and a close ends it. How frames are cut is the framing test's job.
    awaitTask(transport.start(FakeCodex::executable(), {"app-server", "proxy"}, std::make_unique<WebSocketFraming>()));
    EXPECT_EQ(awaitTask(transport.request("read", json::value{{"limit", 1}})), (json::value{{"ok", true}}));
    EXPECT_EQ(errorOf(transport.request("last")), disconnected);
    EXPECT_FALSE(transport.isRunning());
    EXPECT_EQ(fake.logged("pong", "payload"), std::vector<std::string>{"keepalive"});

    // The next write meets a broken pipe, which must neither end this process nor wait for the timer.
    start(transport);
    EXPECT_EQ(awaitTask(transport.request("close")), json::value(1));
    std::string error;
    for (int attempt = 0; attempt < 50 && error.empty(); ++attempt)
        error = errorOf(transport.request("bulk", json::value(std::string(1 << 20, 'x'))));
    EXPECT_EQ(error, disconnected);
    EXPECT_EQ(json::value_from(events), story.at("events"));
}

// Nothing the fake started is left within `limit`.
bool noneLeft(const FakeCodex &fake, std::chrono::milliseconds limit)
{
    return test::noneLeft("ORVANE_FAKE_SCENARIO=" + fake.scenarioPath().toUtf8(), limit);
}

// Deaf to its closed input and to SIGTERM, the App Server behind the launcher is reached only by
// the kill sent to the whole process group. The three ways run at once, so the graces overlap.
TEST(Transport, EachWayOfEndingTheChildEndsTheAppServerBehindALauncherThatIgnoresTerminate)
{
    const json::object session{{"launcher", true}, {"ignoreTerminate", true}, {"ignoreInputEnd", true},
                               {"default", {{"result", 1}}}};
    FakeCodex fake({{"stdio", session}});
    std::vector<std::unique_ptr<AppServerTransport>> ways;
    for (int way = 0; way < 3; ++way) {
        ways.push_back(std::make_unique<AppServerTransport>(5s));
        start(*ways.back());
        EXPECT_EQ(awaitTask(ways.back()->request("ping")), json::value(1));
    }
    ::kill(static_cast<pid_t>(ways[0]->processId()), SIGKILL); // the launcher dies
    ways[1]->disconnect();
    ways[2].reset();
    EXPECT_TRUE(noneLeft(fake, 15s));
}

// Short waits and no fixed places, so only the fake can be found.
AppServerClientOptions fastOptions(std::chrono::milliseconds requestTimeout = 5s) { return {requestTimeout, 2s, {}}; }

TEST(Client, ShakesHandsOnceSendsEachCallsExactParamsRefusesMalformedResultsAndReplacesOnlyADeadChild)
{
    const auto scenario = fixture("client-session.json").as_object();
    const auto &methods = scenario.at("stdio").at("methods").as_object();
    // What the first reply of a method's list gives, and how many replies follow it.
    const auto first = [&](const char *method) { return methods.at(method).as_array().front().at("result"); };
    const auto later = [&](const char *method) { return methods.at(method).as_array().size() - 1; };
    const auto initialized = methods.at("initialize").at("result");
    FakeCodex fake(scenario);
    AppServerClient client(fastOptions());
    auto firstConnect = client.connect(), secondConnect = client.connect();
    EXPECT_EQ(awaitTask(std::move(firstConnect)), initialized);
    EXPECT_EQ(awaitTask(std::move(secondConnect)), json::object{});
    EXPECT_EQ(awaitTask(client.connect()), json::object{});

    EXPECT_EQ(awaitTask(client.listThreads(1)), first("thread/list").at("data"));
    EXPECT_EQ(awaitTask(client.readThread("t1")), first("thread/read").at("thread"));
    EXPECT_EQ(awaitTask(client.account()), first("account/read"));
    EXPECT_EQ(awaitTask(client.rateLimits()), first("account/rateLimits/read"));
    EXPECT_EQ(awaitTask(client.config()), first("config/read"));
    awaitTask(client.interrupt("t1", "u1"));
    json::array sent;
    for (const auto &line : fake.received())
        sent.push_back(json::parse(line));
    EXPECT_EQ(sent, fixture("client-requests.json"));

    // Malformed results are unsupported; optional reads yield nothing on failure, even the child's end.
    for (std::size_t reply = 0; reply < later("thread/list"); ++reply)
        EXPECT_EQ(errorOf(client.listThreads(20)), unsupported) << "list reply " << reply;
    // The connection's first list scanned the session files; later ones ask the index alone.
    EXPECT_EQ(json::parse(fake.received().back()).at("params").at("useStateDbOnly"), true);
    for (std::size_t reply = 0; reply < later("thread/read"); ++reply)
        EXPECT_EQ(errorOf(client.readThread("t")), unsupported) << "read reply " << reply;
    EXPECT_THROW(awaitTask(client.interrupt("t", "u")), AppServerError);
    EXPECT_EQ(awaitTask(client.account()), std::nullopt);
    EXPECT_EQ(awaitTask(client.rateLimits()), std::nullopt);
    EXPECT_EQ(awaitTask(client.config()), std::nullopt);

    // A killed child fails the waiting request at once, and only then is replaced.
    EXPECT_EQ(awaitTask(client.connect()), initialized);
    auto waiting = client.transport().request("a");
    ::kill(static_cast<pid_t>(client.transport().processId()), SIGKILL);
    EXPECT_EQ(errorOf(std::move(waiting)), disconnected);
    EXPECT_EQ(awaitTask(client.connect()), initialized);
    EXPECT_EQ(fake.launches().size(), 9u);
}

TEST(Client, ConnectsThroughTheProxyWhenADaemonRunsAndOtherwiseThroughOneDedicatedChild)
{
    const auto rows = fixture("connections.json");
    for (const auto &value : rows.as_array()) {
        const auto &row = value.as_object();
        SCOPED_TRACE(row.at("why").as_string());
        FakeCodex fake(row.at("scenario").as_object());
        if (row.contains("noDaemonSocket"))
            fake.removeDaemonSocket();
        // Short only where a time-out is part of the outcome, so a loaded machine cannot fake one.
        auto client = std::make_unique<AppServerClient>(fastOptions(row.contains("shortTimeout") ? 500ms : 5s));
        const auto error = errorOf(client->connect());
        EXPECT_EQ(error.empty() ? client->connectionMode() : error, row.at("outcome").as_string());
        EXPECT_EQ(client->isRunning(), error.empty());
        const json::value version = row.contains("version") ? row.at("version") : "codex-cli 0.0.0-fake";
        EXPECT_EQ(client->codexVersion(), version.is_null() ? std::nullopt : std::optional(version.as_string().c_str()));
        EXPECT_EQ(json::value_from(fake.launches()), row.at("launches"));
        client.reset();
        // Whatever it started is gone with it, a command that overran with its launcher's children.
        EXPECT_TRUE(noneLeft(fake, 10s));
    }
}

}
}
