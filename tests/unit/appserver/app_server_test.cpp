// The transport and the client against the fake App Server over real pipes.
#include "appserver/app_server_client.h"
#include "appserver/app_server_error.h"
#include "appserver/line_framing.h"
#include "appserver/websocket_framing.h"

#include <waits.h>
#include "fake_codex.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>

namespace orvane {
namespace {

using namespace std::chrono_literals;
namespace json = boost::json;
using test::awaitTask;
using test::waitUntil;
using test::FakeCodex;

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

json::object stdio(json::object session) { return {{"stdio", std::move(session)}}; }

void start(AppServerTransport &transport, std::unique_ptr<MessageFraming> framing = std::make_unique<LineFraming>())
{
    awaitTask(transport.start(FakeCodex::executable(), {"app-server", "--stdio"}, std::move(framing)));
}

TEST(Transport, CompletesEachRequestAsTheAnswerSays)
{
    const struct {
        json::object reply; // the fake's answer to the one request
        json::value value;
        std::string error;
    } rows[] = {
        {{{"result", nullptr}}, nullptr, ""},
        {{{"error", {{"code", -1}, {"message", "no such thread"}}}}, {}, "no such thread"},
        {{{"error", {{"code", -1}}}}, nullptr, ""},
        {{{"raw", R"({"id":"{id}","result":1})"}}, {}, timedOut},
        {{{"raw", R"({"id":{id}.0,"result":1})"}}, {}, timedOut},
        {{{"raw", R"({"id":999,"result":1})"}}, {}, timedOut},
        {{{"result", {{"a", 1}}}, {"padding", 3 << 20}, {"chunks", 4}}, {{"a", 1}, {"padding", std::string(3 << 20, 'x')}}, ""},
        {{{"before", {"", "not json", "[1,2]", "42", R"({"method":7})"}}, {"result", 1}}, 1, ""},
        {{{"silent", true}, {"flood", 5 << 20}}, {}, disconnected},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(json::serialize(row.reply).substr(0, 80));
        FakeCodex fake(stdio({{"methods", {{"probe", row.reply}}}}));
        // Short only where the time-out is the expected outcome, so a loaded machine cannot fake one.
        AppServerTransport transport(row.error == timedOut ? 400ms : 10s);
        start(transport, std::make_unique<LineFraming>(4 << 20));
        if (row.error.empty())
            EXPECT_EQ(awaitTask(transport.request("probe")), row.value);
        else
            EXPECT_EQ(errorOf(transport.request("probe")), row.error);
    }
}

TEST(Transport, TranscriptOfEventsALateAnswerParamsAndIdsAcrossARestart)
{
    const json::object request{{"id", 7}, {"method", "item/tool/requestUserInput"}, {"params", {{"q", 1}}}};
    FakeCodex fake(stdio({{"onStart", {R"({"method":"bare"})"}},
                          {"methods",
                           {{"ping", {{"before", {request}}, {"result", 1}}},
                            {"slow", {{"delayMs", 1500}, {"result", 2}, {"after", {R"({"method":"late"})"}}}}}}}));
    AppServerTransport transport(1s);
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
    EXPECT_EQ(events, (std::vector<std::string>{"bare", "item/tool/requestUserInput{\"q\":1}", "late",
                                                "item/tool/requestUserInput{\"q\":1}"}));
    transport.disconnect();
    EXPECT_EQ(errorOf(transport.request("idle")), disconnected);
    start(transport);
    awaitTask(transport.request("ping"));
    // The server requests were never answered.
    EXPECT_EQ(fake.received(), (std::vector<std::string>{
                                   R"({"method":"ping","id":1,"params":null})", R"({"method":"slow","id":2,"params":null})",
                                   R"({"method":"bare"})", R"({"method":"given","params":{"x":1}})",
                                   R"({"method":"ping","id":3,"params":{"limit":1}})",
                                   R"({"method":"ping","id":5,"params":null})"}));
}

// Gone, or a zombie not ours to reap.
bool ended(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
}

// Every process the fake logged as `events` ends within `limit`; one that does not is killed, so a
// failure leaves nothing behind.
void expectAllEnd(const FakeCodex &fake, std::initializer_list<std::string_view> events, std::chrono::milliseconds limit)
{
    std::vector<qint64> pids;
    for (const auto &event : fake.events())
        if (std::find(events.begin(), events.end(), event.at("event").as_string()) != events.end())
            pids.push_back(event.at("pid").as_int64());
    EXPECT_EQ(pids.size(), events.size());
    for (auto pid : pids)
        if (!waitUntil([pid] { return ended(pid); }, limit)) {
            ADD_FAILURE() << "still running: " << pid;
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
}

TEST(Transport, EachWayOfEndingTheChildEndsTheAppServerBehindALauncherThatIgnoresTerminate)
{
    enum class Ending { disconnect, destruction, launcherDeath };
    const struct {
        const char *name;
        Ending ending;
        bool ignoresInputEnd;
        std::chrono::milliseconds limit;
    } rows[] = {
        // Well inside the grace before the kill: the closed input ended it.
        {"disconnect", Ending::disconnect, false, 2s},
        // Only the kill sent to the whole process group reaches the App Server.
        {"disconnect, input end ignored", Ending::disconnect, true, 15s},
        {"destruction", Ending::destruction, true, 15s},
        {"the launcher killed", Ending::launcherDeath, true, 15s},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        json::object session{{"launcher", true}, {"ignoreTerminate", true}, {"default", {{"result", 1}}}};
        if (row.ignoresInputEnd)
            session["ignoreInputEnd"] = true;
        FakeCodex fake(stdio(session));
        auto transport = std::make_unique<AppServerTransport>(5s);
        start(*transport);
        EXPECT_EQ(awaitTask(transport->request("ping")), json::value(1));
        if (row.ending == Ending::disconnect)
            transport->disconnect();
        else if (row.ending == Ending::destruction)
            transport.reset();
        else
            ::kill(static_cast<pid_t>(transport->processId()), SIGKILL);
        expectAllEnd(fake, {"launcher", "serving"}, row.limit);
    }
}

TEST(Transport, FailsFastWhenTheChildCannotStartIsOvertakenOrStopsReading)
{
    FakeCodex fake(stdio({{"methods", {{"close", {{"closeInput", true}, {"result", 1}}}}}, {"default", {{"silent", true}}}}));
    AppServerTransport transport(20s);
    EXPECT_THROW(awaitTask(transport.start("/nonexistent/codex", {}, std::make_unique<LineFraming>())), ProcessLaunchError);
    auto starting = transport.start(FakeCodex::executable(), {"app-server", "--stdio"}, std::make_unique<LineFraming>());
    transport.disconnect();
    EXPECT_THROW(awaitTask(std::move(starting)), AppServerError);
    EXPECT_FALSE(transport.isRunning());
    // The next write meets a broken pipe, which must neither end this process nor wait for the timer.
    start(transport);
    EXPECT_EQ(awaitTask(transport.request("close")), json::value(1));
    std::string error;
    for (int attempt = 0; attempt < 50 && error.empty(); ++attempt)
        error = errorOf(transport.request("bulk", json::value(std::string(1 << 20, 'x'))));
    EXPECT_EQ(error, disconnected);
}

// The opening notification waits for the upgrade; the pong goes back to the child; a close ends it.
// How frames are cut and joined is the framing test's job.
TEST(Transport, ThroughTheProxyEachMessageTravelsAsOneFrame)
{
    FakeCodex fake({{"proxy",
                     {{"onStart", {R"({"method":"opened"})"}},
                      {"methods",
                       {{"read", {{"before", {R"({"method":"a"})", R"({"method":"b"})"}}, {"ping", "keepalive"},
                                  {"result", {{"ok", true}}}}},
                        {"last", {{"silent", true}, {"close", 1000}}}}}}}});
    AppServerTransport transport(10s);
    std::vector<std::string> events;
    transport.eventHandler = [&](const std::string &method, const auto &, bool) { events.push_back(method); };
    awaitTask(transport.start(FakeCodex::executable(), {"app-server", "proxy"}, std::make_unique<WebSocketFraming>()));
    const auto read = awaitTask(transport.request("read", json::value{{"limit", 1}}));
    EXPECT_EQ(read, (json::value{{"ok", true}}));
    EXPECT_EQ(events, (std::vector<std::string>{"opened", "a", "b"}));
    EXPECT_EQ(errorOf(transport.request("last")), disconnected);
    EXPECT_FALSE(transport.isRunning());
    // The fake's codec refuses unmasked frames; the pong went out before the last request.
    EXPECT_EQ(fake.received(), (std::vector<std::string>{R"({"method":"read","id":1,"params":{"limit":1}})",
                                                         R"({"method":"last","id":2,"params":null})"}));
    const auto log = fake.events();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const auto &event) { return event.at("event") == "pong"; }));
}

TEST(FindCodex, TriesTheFixedPlacesThenEachPathPieceAndTakesTheFirstExecutableFile)
{
    const auto path = qgetenv("PATH");
    qputenv("PATH", ":/a::/b:");
    qputenv("ORVANE_CODEX", "");
    EXPECT_EQ(AppServerClient::codexCandidates({"/fixed"}), (std::vector<std::string>{"/fixed", "/a/codex", "/b/codex"}));
    QTemporaryDir root;
    for (const auto *folder : {"folder/codex", "plain", "bin"})
        QDir(root.path()).mkpath(folder);
    QFile(root.filePath("plain/codex")).open(QIODevice::WriteOnly);
    QFile::link(FakeCodex::executable(), root.filePath("bin/codex"));
    qputenv("PATH", (root.filePath("folder:") + root.filePath("plain:") + root.filePath("bin")).toUtf8());
    // A missing file, a folder and a file without execute permission are passed over.
    EXPECT_EQ(AppServerClient::findCodex({root.filePath("missing").toStdString()}), root.filePath("bin/codex").toStdString());
    // Named, it is the only candidate.
    qputenv("ORVANE_CODEX", root.filePath("plain/codex").toUtf8());
    EXPECT_EQ(errorOf(AppServerClient().connect()), "ORVANE_CODEX is set to \"" + root.filePath("plain/codex").toStdString() +
                                                        "\", which is not an executable file. Point it at the codex "
                                                        "executable, or unset it to look in the usual places and PATH.");
    qunsetenv("ORVANE_CODEX");
    qputenv("PATH", path);
}

// Short waits and no fixed places, so only the fake can be found.
AppServerClientOptions fastOptions(std::chrono::milliseconds requestTimeout = 5s) { return {requestTimeout, 2s, {}}; }

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
                        {"account/read", {{"result", {{"account", nullptr}}}}}, {"config/read", {{"result", {{"config", 2}}}}},
                        {"account/rateLimits/read", {{"result", {{"rateLimits", 1}}}}},
                        {"turn/interrupt", {{"result", json::object{}}}}}},
                      {"default", {{"silent", true}}}}}});
    AppServerClient client(fastOptions());
    auto first = client.connect(), second = client.connect();
    EXPECT_EQ(awaitTask(std::move(first)), initialized);
    EXPECT_EQ(awaitTask(std::move(second)), json::object{});
    EXPECT_EQ(awaitTask(client.connect()), json::object{});
    EXPECT_EQ(client.codexVersion(), "codex-cli 1.2.3");

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
                  R"({"method":"thread/list","id":2,"params":{"limit":1,"sortKey":"updated_at","sortDirection":"desc","archived":false,"sourceKinds":["cli","vscode","exec","appServer"]}})",
                  R"({"method":"thread/read","id":3,"params":{"threadId":"t1","includeTurns":true}})",
                  R"({"method":"account/read","id":4,"params":{"refreshToken":false}})",
                  R"({"method":"account/rateLimits/read","id":5,"params":null})",
                  R"({"method":"config/read","id":6,"params":{"includeLayers":false}})",
                  R"({"method":"turn/interrupt","id":7,"params":{"threadId":"t1","turnId":"u1"}})"}));

    // A killed child fails both waiting requests at once, and only then is replaced.
    auto waiting = client.transport().request("a"), alsoWaiting = client.transport().request("b");
    ::kill(static_cast<pid_t>(client.transport().processId()), SIGKILL);
    EXPECT_EQ(errorOf(std::move(waiting)), disconnected);
    EXPECT_EQ(errorOf(std::move(alsoWaiting)), disconnected);
    EXPECT_EQ(awaitTask(client.connect()), initialized);
    EXPECT_EQ(fake.launches().size(), 6u);
}

TEST(Client, ConnectsThroughTheProxyWhenADaemonRunsAndOtherwiseThroughOneDedicatedChild)
{
    const std::string dedicated = "Dedicated stdio", stdioChild = "app-server --stdio", proxyChild = "app-server proxy";
    const struct {
        const char *scenario; // @ stands for a session that answers initialize
        std::string outcome;  // the mode connected in, or the error
        std::vector<std::string> children; // a daemon runs when the proxy is tried
        std::optional<std::string> version = "codex-cli 0.0.0-fake";
    } rows[] = {
        {R"({"version":{"output":" \n"},"stdio":@})", dedicated, {stdioChild}, std::nullopt},
        // Only the first line with something on it, cleaned and cut, reaches the glasses.
        {R"({"version":{"output":"\u001b\n\t codex-cli\u0007 1.2.3\u202e \r\nWARNING: update"},"stdio":@})", dedicated,
         {stdioChild}, "codex-cli 1.2.3"},
        {R"({"version":{"output":"v)" "9999999999999999999999999999999999999999999999999999999999999999999999"
         R"("},"stdio":@})", dedicated, {stdioChild}, "v" + std::string(63, '9')},
        {R"({"version":{"output":"v","exitCode":2},"stdio":@})", dedicated, {stdioChild}, std::nullopt},
        {R"({"version":{"outputHex":"ff0a"},"stdio":@})", dedicated, {stdioChild}, std::nullopt},
        {R"({"version":{"hang":true,"launcher":true},"stdio":@})", dedicated, {stdioChild}, std::nullopt},
        {R"({"proxy":@})", "Managed daemon proxy", {proxyChild}},
        {R"({"proxy":{"handshake":"wrongKey"},"stdio":@})", dedicated, {proxyChild, stdioChild}},
        {R"({"proxy":{"handshake":"silent"},"stdio":@})", dedicated, {proxyChild, stdioChild}},
        {R"({"stdio":@})", dedicated, {proxyChild, stdioChild}},
        {R"({"proxy":{"default":{"error":{"message":"a"}}},"stdio":{"default":{"error":{"message":"b"}}}})", "b",
         {proxyChild, stdioChild}},
        {R"({"stdio":{"default":{"silent":true}}})", timedOut, {stdioChild}},
        {R"({"stdio":{"default":{"result":[]}}})", unsupported, {stdioChild}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.scenario);
        std::string text = row.scenario;
        for (auto at = text.find('@'); at != std::string::npos; at = text.find('@'))
            text.replace(at, 1, R"({"methods":{"initialize":{"result":{}}}})");
        auto scenario = json::parse(text).as_object();
        if (row.children.front() == proxyChild)
            scenario["daemon"] = {{"exitCode", 0}};
        FakeCodex fake(scenario);
        // Short only where a time-out is the expected outcome, so a loaded machine cannot fake one.
        AppServerClient client(fastOptions(text.find("silent") == std::string::npos ? 5s : 500ms));
        const auto error = errorOf(client.connect());
        EXPECT_EQ(error.empty() ? client.connectionMode() : error, row.outcome);
        EXPECT_EQ(client.isRunning(), error.empty());
        EXPECT_EQ(client.codexVersion(), row.version);
        auto launches = std::vector<std::string>{"--version", "app-server daemon version"};
        launches.insert(launches.end(), row.children.begin(), row.children.end());
        EXPECT_EQ(fake.launches(), launches);
        // An overrun takes the launcher's children with it.
        if (text.find("hang") != std::string::npos)
            expectAllEnd(fake, {"launcher", "hanging"}, 10s);
    }

    // No daemon socket, no daemon: Codex is not started to ask.
    FakeCodex fake(json::parse(R"({"daemon":{"exitCode":0},"proxy":{},"stdio":{"methods":{"initialize":{"result":{}}}}})").as_object());
    fake.removeDaemonSocket();
    AppServerClient client(fastOptions(5s));
    awaitTask(client.connect());
    EXPECT_EQ(client.connectionMode(), dedicated);
    EXPECT_FALSE(awaitTask(client.probeDaemon()));
    EXPECT_EQ(fake.launches(), (std::vector<std::string>{"--version", stdioChild}));
}

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
        EXPECT_EQ(errorOf(client.listThreads(20)), unsupported) << json::serialize(reply);
    for (const auto &reply : reads)
        EXPECT_EQ(errorOf(client.readThread("t")), unsupported) << json::serialize(reply);
    EXPECT_THROW(awaitTask(client.interrupt("t", "u")), AppServerError);
    EXPECT_EQ(awaitTask(client.account()), std::nullopt);
    EXPECT_EQ(awaitTask(client.rateLimits()), std::nullopt);
    EXPECT_EQ(awaitTask(client.config()), std::nullopt);
}

}
}
