// The transport against the fake App Server over real pipes, speaking lines or, through the proxy,
// WebSocket frames.
#include "appserver/app_server_error.h"
#include "appserver/app_server_transport.h"
#include "appserver/line_framing.h"
#include "appserver/websocket_framing.h"

#include "appserver_test_support.h"
#include "fake_codex.h"

#include <gtest/gtest.h>

#include <QFile>

#include <csignal>

namespace orvane {
namespace {

using namespace std::chrono_literals;
namespace json = boost::json;
using test::awaitTask;
using test::FakeCodex;
using test::outcomeOf;
using test::waitUntil;

const std::string timedOut = AppServerError::timeout().what();
const std::string disconnected = AppServerError::disconnected().what();

json::object stdio(json::object session) { return {{"stdio", std::move(session)}}; }

void start(AppServerTransport &transport, std::unique_ptr<MessageFraming> framing = std::make_unique<LineFraming>())
{
    awaitTask(transport.start(FakeCodex::executable(), {"app-server", "--stdio"}, std::move(framing)));
}

struct ResponseCase {
    const char *name;
    json::object reply; // the fake's answer to the one request
    std::optional<json::value> value;
    std::string error;
};

class ResponseMatching : public testing::TestWithParam<ResponseCase> {};

TEST_P(ResponseMatching, CompletesTheRequestAsTheAnswerSays)
{
    const auto &row = GetParam();
    FakeCodex fake(stdio({{"methods", {{"probe", row.reply}}}}));
    // Short only where the time-out is the expected outcome, so a loaded machine cannot fake one.
    AppServerTransport transport(row.error == timedOut ? 400ms : 10s);
    start(transport, std::make_unique<LineFraming>(4 << 20));
    const auto outcome = outcomeOf(transport.request("probe"));
    EXPECT_EQ(outcome.value, row.value);
    EXPECT_EQ(outcome.error, row.error);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ResponseMatching,
    testing::Values(
        ResponseCase{"nullResult", {{"result", nullptr}}, json::value(nullptr), ""},
        ResponseCase{"errorWithMessage", {{"error", {{"code", -1}, {"message", "no such thread"}}}}, {}, "no such thread"},
        ResponseCase{"errorWithoutMessage", {{"error", {{"code", -1}}}}, json::value(nullptr), ""},
        ResponseCase{"stringId", {{"raw", R"({"id":"{id}","result":1})"}}, {}, timedOut},
        ResponseCase{"fractionalId", {{"raw", R"({"id":{id}.0,"result":1})"}}, {}, timedOut},
        ResponseCase{"unknownId", {{"raw", R"({"id":999,"result":1})"}}, {}, timedOut},
        ResponseCase{"neverAnswered", {{"silent", true}}, {}, timedOut},
        ResponseCase{"severalMegabytesSplit", {{"result", {{"a", 1}}}, {"padding", 3 << 20}, {"chunks", 4}},
                     json::value{{"a", 1}, {"padding", std::string(3 << 20, 'x')}}, ""},
        ResponseCase{"afterGarbageLines", {{"before", {"", "not json", "[1,2]", "42", R"({"method":7})"}}, {"result", 1}},
                     json::value(1), ""},
        ResponseCase{"runawayLine", {{"silent", true}, {"flood", 5 << 20}}, {}, disconnected}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Transport, EventsReachTheHandlerUnansweredAndALateResponseChangesNothing)
{
    const json::object request{{"id", 7}, {"method", "item/tool/requestUserInput"}, {"params", {{"q", 1}}}};
    FakeCodex fake(stdio({{"onStart", {{{"method", "thread/status/changed"}, {"params", {{"t", 1}}}}, R"({"method":"bare"})"}},
                          {"methods",
                           {{"ping", {{"before", {request}}, {"result", 1}}},
                            {"slow", {{"delayMs", 1500}, {"result", 2}, {"after", {R"({"method":"late"})"}}}}}}}));
    AppServerTransport transport(1s);
    std::vector<std::pair<std::string, std::optional<json::value>>> events;
    transport.eventHandler = [&](const std::string &method, const std::optional<json::value> &params) {
        events.emplace_back(method, params);
    };
    start(transport);
    EXPECT_EQ(outcomeOf(transport.request("ping")).value, json::value(1));
    EXPECT_EQ(outcomeOf(transport.request("slow")).error, timedOut);
    // The marker comes in the same write as the late answer, so the answer has been seen.
    ASSERT_TRUE(waitUntil([&] { return events.size() == 4; }));
    EXPECT_EQ(outcomeOf(transport.request("ping")).value, json::value(1));
    const decltype(events) expected{{"thread/status/changed", json::value{{"t", 1}}},
                                    {"bare", std::nullopt},
                                    {"item/tool/requestUserInput", json::value{{"q", 1}}},
                                    {"late", std::nullopt},
                                    {"item/tool/requestUserInput", json::value{{"q", 1}}}};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(fake.received().size(), 3u) << "the server request was never answered";
}

TEST(Transport, AKilledChildFailsBothWaitingRequestsAtOnce)
{
    FakeCodex fake(stdio({{"default", {{"silent", true}}}}));
    AppServerTransport transport(20s);
    start(transport);
    auto first = transport.request("a");
    auto second = transport.request("b");
    ::kill(static_cast<pid_t>(transport.processId()), SIGKILL);
    EXPECT_EQ(outcomeOf(std::move(first)).error, disconnected);
    EXPECT_EQ(outcomeOf(std::move(second)).error, disconnected);
    EXPECT_FALSE(transport.isRunning());
}

TEST(Transport, AChildThatStopsReadingFailsTheRequestWithoutWaitingForTheTimer)
{
    // The next write meets a broken pipe, which must neither end this process nor wait for the timer.
    FakeCodex fake(stdio({{"methods", {{"close", {{"closeInput", true}, {"result", 1}}}}}, {"default", {{"silent", true}}}}));
    AppServerTransport transport(20s);
    start(transport);
    EXPECT_EQ(outcomeOf(transport.request("close")).value, json::value(1));
    std::string error;
    for (int attempt = 0; attempt < 50 && error.empty(); ++attempt)
        error = outcomeOf(transport.request("bulk", json::value(std::string(1 << 20, 'x')))).error;
    EXPECT_EQ(error, disconnected);
}

TEST(Transport, IdsNeverRepeatAndAbsentParamsAreNullInRequestsButLeftOutOfNotifications)
{
    FakeCodex fake(stdio({{"default", {{"result", nullptr}}}}));
    AppServerTransport transport(5s);
    start(transport);
    outcomeOf(transport.request("first"));
    transport.notify("bare");
    transport.notify("given", json::value{{"x", 1}});
    outcomeOf(transport.request("second", json::value{{"limit", 1}}));
    transport.disconnect();
    EXPECT_EQ(outcomeOf(transport.request("idle")).error, disconnected);
    start(transport);
    outcomeOf(transport.request("third"));
    EXPECT_EQ(fake.received(), (std::vector<std::string>{
                                   R"({"method":"first","id":1,"params":null})", R"({"method":"bare"})",
                                   R"({"method":"given","params":{"x":1}})",
                                   R"({"method":"second","id":2,"params":{"limit":1}})",
                                   R"({"method":"third","id":4,"params":null})"}));
}

// Gone, or a zombie left for a parent that is not ours to reap.
bool gone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const auto text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
}

TEST(Transport, DisconnectLeavesNoAppServerBehindALauncherThatIgnoresTerminate)
{
    FakeCodex fake(stdio({{"launcher", true}, {"ignoreTerminate", true}, {"default", {{"result", 1}}}}));
    AppServerTransport transport(5s);
    start(transport);
    EXPECT_EQ(outcomeOf(transport.request("ping")).value, json::value(1));
    std::vector<qint64> pids;
    for (const auto &event : fake.events())
        if (event.at("event") == "serving" || event.at("event") == "launcher")
            pids.push_back(event.at("pid").as_int64());
    ASSERT_EQ(pids.size(), 2u);
    transport.disconnect();
    // Well inside the grace before the kill: closing the input is what ends them.
    for (auto pid : pids)
        EXPECT_TRUE(waitUntil([pid] { return gone(pid); }, 2s)) << pid;
}

TEST(Transport, AStartThatFailsOrIsOvertakenByADisconnectLeavesNoChild)
{
    FakeCodex fake(stdio({}));
    AppServerTransport transport(1s);
    EXPECT_THROW(awaitTask(transport.start("/nonexistent/codex", {}, std::make_unique<LineFraming>())), ProcessLaunchError);
    auto starting = transport.start(FakeCodex::executable(), {"app-server", "--stdio"}, std::make_unique<LineFraming>());
    transport.disconnect();
    EXPECT_THROW(awaitTask(std::move(starting)), AppServerError);
    EXPECT_FALSE(transport.isRunning());
}

// One exchange through the proxy: the daemon's opening notification waits for the upgrade, a
// split 64-bit frame after a ping and two joined notifications, then a close ends the child.
TEST(Transport, ThroughTheProxyEachMessageTravelsAsOneFrame)
{
    FakeCodex fake({{"proxy",
                     {{"onStart", {R"({"method":"opened"})"}},
                      {"methods",
                       {{"read", {{"before", {R"({"method":"a"})", R"({"method":"b"})"}}, {"ping", "keepalive"},
                                  {"result", {{"ok", true}}}, {"padding", 3 << 20}, {"chunks", 5}}},
                        {"last", {{"silent", true}, {"close", 1000}}}}}}}});
    AppServerTransport transport(10s);
    std::vector<std::string> events;
    transport.eventHandler = [&](const std::string &method, const auto &) { events.push_back(method); };
    awaitTask(transport.start(FakeCodex::executable(), {"app-server", "proxy"}, std::make_unique<WebSocketFraming>()));
    const auto read = outcomeOf(transport.request("read", json::value{{"limit", 1}}));
    ASSERT_TRUE(read.value) << read.error;
    EXPECT_EQ(read.value->at("padding").as_string().size(), std::size_t{3 << 20});
    EXPECT_EQ(events, (std::vector<std::string>{"opened", "a", "b"}));
    EXPECT_EQ(outcomeOf(transport.request("last")).error, disconnected);
    EXPECT_FALSE(transport.isRunning());
    // The fake's server codec refuses unmasked frames: both requests came through whole.
    EXPECT_EQ(fake.received(), (std::vector<std::string>{R"({"method":"read","id":1,"params":{"limit":1}})",
                                                         R"({"method":"last","id":2,"params":null})"}));
    std::vector<std::string> pongs;
    for (const auto &event : fake.events())
        if (event.at("event") == "pong")
            pongs.emplace_back(event.at("payload").as_string());
    EXPECT_EQ(pongs, std::vector<std::string>{"keepalive"});
}

}
}
