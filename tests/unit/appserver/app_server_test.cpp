// The transport and the client against the fake App Server over real pipes.
#include "appserver/app_server_client.h"
#include "appserver/app_server_error.h"
#include "appserver/line_framing.h"
#include "appserver/websocket_framing.h"

#include "await_task.h"
#include "fake_codex.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

namespace orvane {
namespace {

using namespace std::chrono_literals;
namespace json = boost::json;
using test::awaitTask;
using test::FakeCodex;

const std::string timedOut = AppServerError::timeout().what();
const std::string disconnected = AppServerError::disconnected().what();
const std::string unsupported = AppServerError::invalidResponse().what();

template <typename T>
struct Outcome {
    std::optional<T> value;
    std::string error;
};

template <typename T>
Outcome<T> outcomeOf(QCoro::Task<T> task)
{
    try {
        return {awaitTask(std::move(task)), {}};
    } catch (const std::exception &error) {
        return {std::nullopt, error.what()};
    }
}

bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds limit = 5s)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && !clock.hasExpired(limit.count())) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return condition();
}

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
    FakeCodex fake(stdio({{"methods", {{"probe", GetParam().reply}}}}));
    // Short only where the time-out is the expected outcome, so a loaded machine cannot fake one.
    AppServerTransport transport(GetParam().error == timedOut ? 400ms : 10s);
    start(transport, std::make_unique<LineFraming>(4 << 20));
    const auto outcome = outcomeOf(transport.request("probe"));
    EXPECT_EQ(outcome.value, GetParam().value);
    EXPECT_EQ(outcome.error, GetParam().error);
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
        ResponseCase{"severalMegabytesSplit", {{"result", {{"a", 1}}}, {"padding", 3 << 20}, {"chunks", 4}},
                     json::value{{"a", 1}, {"padding", std::string(3 << 20, 'x')}}, ""},
        ResponseCase{"afterGarbageLines", {{"before", {"", "not json", "[1,2]", "42", R"({"method":7})"}}, {"result", 1}},
                     json::value(1), ""},
        ResponseCase{"runawayLine", {{"silent", true}, {"flood", 5 << 20}}, {}, disconnected}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Transport, TranscriptOfEventsALateAnswerParamsAndIdsAcrossARestart)
{
    const json::object request{{"id", 7}, {"method", "item/tool/requestUserInput"}, {"params", {{"q", 1}}}};
    FakeCodex fake(stdio({{"onStart", {R"({"method":"bare"})"}},
                          {"methods",
                           {{"ping", {{"before", {request}}, {"result", 1}}},
                            {"slow", {{"delayMs", 1500}, {"result", 2}, {"after", {R"({"method":"late"})"}}}}}}}));
    AppServerTransport transport(1s);
    std::vector<std::pair<std::string, std::optional<json::value>>> events;
    transport.eventHandler = [&](const std::string &method, const auto &params) { events.emplace_back(method, params); };
    start(transport);
    EXPECT_EQ(outcomeOf(transport.request("ping")).value, json::value(1));
    EXPECT_EQ(outcomeOf(transport.request("slow")).error, timedOut);
    // The marker comes in the same write as the late answer, so the answer has been seen.
    ASSERT_TRUE(waitUntil([&] { return events.size() == 3; }));
    transport.notify("bare");
    transport.notify("given", json::value{{"x", 1}});
    EXPECT_EQ(outcomeOf(transport.request("ping", json::value{{"limit", 1}})).value, json::value(1));
    const decltype(events) expected{{"bare", std::nullopt},
                                    {"item/tool/requestUserInput", json::value{{"q", 1}}},
                                    {"late", std::nullopt},
                                    {"item/tool/requestUserInput", json::value{{"q", 1}}}};
    EXPECT_EQ(events, expected);
    transport.disconnect();
    EXPECT_EQ(outcomeOf(transport.request("idle")).error, disconnected);
    start(transport);
    outcomeOf(transport.request("ping"));
    // The server requests were never answered.
    EXPECT_EQ(fake.received(), (std::vector<std::string>{
                                   R"({"method":"ping","id":1,"params":null})", R"({"method":"slow","id":2,"params":null})",
                                   R"({"method":"bare"})", R"({"method":"given","params":{"x":1}})",
                                   R"({"method":"ping","id":3,"params":{"limit":1}})",
                                   R"({"method":"ping","id":5,"params":null})"}));
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
    // Gone, or a zombie left for a parent not ours to reap, well inside the grace before the kill:
    // closing the input is what ends them.
    for (auto pid : pids)
        EXPECT_TRUE(waitUntil([pid] {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
        }, 2s)) << pid;
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

// Through the proxy: the opening notification waits for the upgrade, a ping precedes two joined
// notifications and a split 64-bit frame, and a close ends the child.
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
    // The fake's codec refuses unmasked frames; the pong went out before the last request.
    EXPECT_EQ(fake.received(), (std::vector<std::string>{R"({"method":"read","id":1,"params":{"limit":1}})",
                                                         R"({"method":"last","id":2,"params":null})"}));
    const auto log = fake.events();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const auto &event) {
                  return event.at("event") == "pong" && event.at("payload") == "keepalive";
              }), 1);
}

TEST(FindCodex, TriesTheFixedPlacesThenEachPathPieceAndTakesTheFirstExecutableFile)
{
    const auto path = qgetenv("PATH");
    const struct {
        const char *path, *chosen;
        std::vector<std::string> expected;
    } rows[] = {{":/a::/b:", "", {"/fixed/codex", "/a/codex", "/b/codex"}}, {"/a", "/opt/codex", {"/opt/codex"}}};
    for (const auto &row : rows) {
        qputenv("PATH", row.path);
        qputenv("ORVANE_CODEX", row.chosen);
        EXPECT_EQ(AppServerClient::codexCandidates({"/fixed/codex"}), row.expected) << row.path;
    }
    QTemporaryDir root;
    QDir(root.path()).mkpath("folder/codex");
    for (const auto *name : {"plain", "bin"}) {
        QDir(root.path()).mkpath(name);
        QFile file(root.filePath(name + QStringLiteral("/codex")));
        file.open(QIODevice::WriteOnly);
        file.setPermissions(QFile::ReadOwner | (name == std::string_view("bin") ? QFile::ExeOwner : QFile::Permission{}));
    }
    qputenv("PATH", (root.filePath("folder:") + root.filePath("plain:") + root.filePath("bin")).toUtf8());
    qputenv("ORVANE_CODEX", "");
    // A missing file, a folder and a file without execute permission are passed over.
    EXPECT_EQ(AppServerClient::findCodex({root.filePath("missing").toStdString()}), root.filePath("bin/codex").toStdString());
    qputenv("ORVANE_CODEX", root.filePath("plain/codex").toUtf8());
    EXPECT_EQ(outcomeOf(AppServerClient().connect()).error,
              "Codex was not found. Install or update the official Codex app or CLI.");
    qunsetenv("ORVANE_CODEX");
    qputenv("PATH", path);
}

// Short waits and no fixed places, so only the fake can be found.
AppServerClientOptions fastOptions(std::chrono::milliseconds requestTimeout = 5s)
{
    return {requestTimeout, 2s, {}};
}

const json::value initialized{{"userAgent", "fake"}};

TEST(Client, ShakesHandsOnceForConcurrentCallersSendsEachCallsExactParamsAndReplacesOnlyADeadChild)
{
    const json::value thread{{"id", "t1"}, {"turns", json::array{}}};
    FakeCodex fake({{"version", {{"output", "  codex-cli 1.2.3\n\n"}}},
                    {"stdio",
                     {{"methods",
                       {{"initialize", {{"result", initialized}}},
                        {"thread/list", {{"result", {{"data", {thread}}, {"nextCursor", nullptr}}}}},
                        {"thread/read", {{"result", {{"thread", thread}}}}},
                        {"account/read", {{"result", {{"account", nullptr}}}}},
                        {"account/rateLimits/read", {{"result", {{"rateLimits", 1}}}}},
                        {"config/read", {{"result", {{"config", 2}}}}},
                        {"turn/interrupt", {{"result", json::object{}}}}}},
                      {"default", {{"silent", true}}}}}});
    AppServerClient client(fastOptions());
    auto first = client.connect();
    auto second = client.connect();
    EXPECT_EQ(awaitTask(std::move(first)), initialized);
    EXPECT_EQ(awaitTask(std::move(second)), json::object{});
    EXPECT_EQ(awaitTask(client.connect()), json::object{});
    EXPECT_EQ(client.codexPath(), FakeCodex::executable().toStdString());
    EXPECT_EQ(client.codexVersion(), "codex-cli 1.2.3");
    EXPECT_EQ(client.connectionMode(), "Dedicated stdio");

    EXPECT_EQ(awaitTask(client.listThreads(1)), json::array{thread});
    EXPECT_EQ(awaitTask(client.readThread("t1")), thread.as_object());
    EXPECT_EQ(awaitTask(client.account()), (json::object{{"account", nullptr}}));
    EXPECT_EQ(awaitTask(client.rateLimits()), (json::object{{"rateLimits", 1}}));
    EXPECT_EQ(awaitTask(client.config()), (json::object{{"config", 2}}));
    awaitTask(client.interrupt("t1", "u1"));
    EXPECT_EQ(fake.received(),
              (std::vector<std::string>{
                  R"({"method":"initialize","id":1,"params":{"clientInfo":{"name":"orvane","title":"Orvane Companion","version":"0.1.0"},"capabilities":{"experimentalApi":false}}})",
                  R"({"method":"initialized"})",
                  R"({"method":"thread/list","id":2,"params":{"limit":1,"sortKey":"updated_at","sortDirection":"desc","archived":false}})",
                  R"({"method":"thread/read","id":3,"params":{"threadId":"t1","includeTurns":true}})",
                  R"({"method":"account/read","id":4,"params":{"refreshToken":false}})",
                  R"({"method":"account/rateLimits/read","id":5,"params":null})",
                  R"({"method":"config/read","id":6,"params":{"includeLayers":false}})",
                  R"({"method":"turn/interrupt","id":7,"params":{"threadId":"t1","turnId":"u1"}})"}));

    // A killed child fails both waiting requests at once, and only then is replaced.
    auto waiting = client.transport().request("a");
    auto alsoWaiting = client.transport().request("b");
    ::kill(static_cast<pid_t>(client.transport().processId()), SIGKILL);
    EXPECT_EQ(outcomeOf(std::move(waiting)).error, disconnected);
    EXPECT_EQ(outcomeOf(std::move(alsoWaiting)).error, disconnected);
    EXPECT_FALSE(client.isRunning());
    EXPECT_EQ(awaitTask(client.connect()), initialized);
    EXPECT_EQ(fake.launches().size(), 6u);
}

struct ConnectCase {
    const char *name;
    const char *scenario; // @ stands for a session that answers initialize
    std::string outcome;  // the mode connected in, or the error
    std::vector<std::string> children; // a daemon runs when the proxy is tried
    std::optional<std::string> version = "codex-cli 0.0.0-fake";
};

class Connecting : public testing::TestWithParam<ConnectCase> {};

const std::string dedicated = "Dedicated stdio", stdioChild = "app-server --stdio", proxyChild = "app-server proxy";

TEST_P(Connecting, TriesTheProxyThenOneDedicatedChild)
{
    const auto &row = GetParam();
    std::string text = row.scenario;
    for (auto at = text.find('@'); at != std::string::npos; at = text.find('@'))
        text.replace(at, 1, R"({"methods":{"initialize":{"result":{}}}})");
    auto scenario = json::parse(text).as_object();
    if (row.children.front() == proxyChild)
        scenario["daemon"] = {{"exitCode", 0}};
    FakeCodex fake(scenario);
    // Short only where a time-out is the expected outcome, so a loaded machine cannot fake one.
    AppServerClient client(fastOptions(text.find("silent") == std::string::npos ? 5s : 500ms));
    const auto outcome = outcomeOf(client.connect());
    EXPECT_EQ(outcome.value ? client.connectionMode() : outcome.error, row.outcome);
    EXPECT_EQ(client.isRunning(), outcome.value.has_value());
    EXPECT_EQ(client.codexVersion(), row.version);
    auto launches = std::vector<std::string>{"--version", "app-server daemon version"};
    launches.insert(launches.end(), row.children.begin(), row.children.end());
    EXPECT_EQ(fake.launches(), launches);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, Connecting,
    testing::Values(
        ConnectCase{"versionBlank", R"({"version":{"output":" \n"},"stdio":@})", dedicated, {stdioChild}, std::nullopt},
        ConnectCase{"versionFailed", R"({"version":{"output":"v","exitCode":2},"stdio":@})", dedicated, {stdioChild}, {}},
        ConnectCase{"versionNotUtf8", R"({"version":{"outputHex":"ff0a"},"stdio":@})", dedicated, {stdioChild}, {}},
        ConnectCase{"versionNeverExits", R"({"version":{"hang":true},"stdio":@})", dedicated, {stdioChild}, {}},
        ConnectCase{"proxy", R"({"proxy":@})", "Managed daemon proxy", {proxyChild}},
        ConnectCase{"proxyBadAcceptKey", R"({"proxy":{"handshake":"wrongKey"},"stdio":@})", dedicated, {proxyChild, stdioChild}},
        ConnectCase{"proxyNoAnswer", R"({"proxy":{"handshake":"silent"},"stdio":@})", dedicated, {proxyChild, stdioChild}},
        ConnectCase{"proxyExits", R"({"stdio":@})", dedicated, {proxyChild, stdioChild}},
        ConnectCase{"proxyHandshakeError", R"({"proxy":{"default":{"error":{"message":"busy"}}},"stdio":@})", dedicated,
                    {proxyChild, stdioChild}},
        ConnectCase{"bothFail", R"({"proxy":{"default":{"error":{"message":"a"}}},"stdio":{"default":{"error":{"message":"b"}}}})",
                    "b", {proxyChild, stdioChild}},
        ConnectCase{"silentChild", R"({"stdio":{"default":{"silent":true}}})", timedOut, {stdioChild}},
        ConnectCase{"handshakeNotAnObject", R"({"stdio":{"default":{"result":[]}}})", unsupported, {stdioChild}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Client, MalformedResultsAreUnsupportedAndOptionalReadsYieldNothingOnFailure)
{
    const json::array lists{json::object{{"result", nullptr}}, json::object{{"result", {{"data", "x"}}}},
                            json::object{{"result", {{"data", {json::object{}, "t"}}}}}};
    const json::array reads{json::object{{"result", "t"}}, json::object{{"result", {{"thread", nullptr}}}}};
    FakeCodex fake(stdio({{"methods",
                           {{"initialize", {{"result", initialized}}},
                            {"thread/list", lists},
                            {"thread/read", reads},
                            {"account/read", {{"error", {{"message", "authentication required"}}}}},
                            {"account/rateLimits/read", {{"result", "text"}}},
                            {"config/read", {{"exit", 1}}}}}}));
    AppServerClient client(fastOptions());
    awaitTask(client.connect());
    for (const auto &reply : lists)
        EXPECT_EQ(outcomeOf(client.listThreads(20)).error, unsupported) << json::serialize(reply);
    for (const auto &reply : reads)
        EXPECT_EQ(outcomeOf(client.readThread("t")).error, unsupported) << json::serialize(reply);
    EXPECT_THROW(awaitTask(client.interrupt("t", "u")), AppServerError);
    EXPECT_EQ(awaitTask(client.account()), std::nullopt);
    EXPECT_EQ(awaitTask(client.rateLimits()), std::nullopt);
    EXPECT_EQ(awaitTask(client.config()), std::nullopt);
}

}
}
