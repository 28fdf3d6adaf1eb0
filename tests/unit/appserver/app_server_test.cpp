// The transport and the client against the fake App Server over real pipes.
#include "appserver/app_server_client.h"
#include "appserver/app_server_error.h"
#include "appserver/line_framing.h"
#include "appserver/websocket_framing.h"

#include <waits.h>
#include "fake_codex.h"

#include <gtest/gtest.h>

#include <fixture.h>

#include <QDir>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>

namespace orvane {
namespace {

using test::fixture;

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

// The rows are answers to methods of their own; the last ends the child.
TEST(Transport, CompletesEachRequestAsTheAnswerSays)
{
    const auto rows = fixture("requests.json").as_array();
    const auto timesOut = [](const json::value &row) {
        const auto *error = row.as_object().if_contains("error");
        return error && error->as_string() == timedOut;
    };
    json::object methods;
    for (std::size_t i = 0; i < rows.size(); ++i)
        methods[std::to_string(i)] = rows[i].at("reply");
    FakeCodex fake(stdio({{"methods", methods}}));
    // Short only where the time-out is the expected outcome, so a loaded machine cannot fake one;
    // those requests wait together.
    AppServerTransport patient(10s), impatient(400ms);
    start(patient, std::make_unique<LineFraming>(4 << 20));
    start(impatient);
    std::vector<std::pair<std::string, QCoro::Task<json::value>>> unanswered;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (timesOut(rows[i]))
            unanswered.emplace_back(std::to_string(i), impatient.request(std::to_string(i)));
    for (auto &[method, task] : unanswered)
        EXPECT_EQ(errorOf(std::move(task)), timedOut) << "row " << method;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        const auto &row = rows[i].as_object();
        if (const auto *value = row.if_contains("value")) {
            json::value expected = *value;
            if (const auto *padding = row.if_contains("paddingBytes"))
                expected.as_object()["padding"] = std::string(padding->as_int64(), 'x');
            EXPECT_EQ(awaitTask(patient.request(std::to_string(i))), expected);
        } else if (!timesOut(row)) {
            EXPECT_EQ(errorOf(patient.request(std::to_string(i))), row.at("error").as_string());
        }
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

// The `count` processes the fake logged as one of `events` end within `limit`; one that does not
// is killed, so a failure leaves nothing behind.
void expectAllEnd(const FakeCodex &fake, std::initializer_list<std::string_view> events, std::size_t count,
                  std::chrono::milliseconds limit)
{
    std::vector<qint64> pids;
    for (const auto &event : fake.events())
        if (std::find(events.begin(), events.end(), event.at("event").as_string()) != events.end())
            pids.push_back(event.at("pid").as_int64());
    EXPECT_EQ(pids.size(), count);
    for (auto pid : pids)
        if (!waitUntil([pid] { return ended(pid); }, limit)) {
            ADD_FAILURE() << "still running: " << pid;
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
}

TEST(Transport, EachWayOfEndingTheChildEndsTheAppServerBehindALauncherThatIgnoresTerminate)
{
    json::object session{{"launcher", true}, {"ignoreTerminate", true}, {"default", {{"result", 1}}}};
    FakeCodex fake(stdio(session));
    const auto started = [] {
        auto transport = std::make_unique<AppServerTransport>(5s);
        start(*transport);
        EXPECT_EQ(awaitTask(transport->request("ping")), json::value(1));
        return transport;
    };
    // Well inside the grace before the kill: the closed input ended it.
    const auto closed = started();
    closed->disconnect();
    expectAllEnd(fake, {"launcher", "serving"}, 2, 2s);

    // Deaf to both: only the kill sent to the whole process group reaches the App Server. The
    // three ways run at once, so the graces overlap.
    session["ignoreInputEnd"] = true;
    fake.replace(stdio(session));
    auto disconnected = started(), destroyed = started(), launcherKilled = started();
    ::kill(static_cast<pid_t>(launcherKilled->processId()), SIGKILL);
    disconnected->disconnect();
    destroyed.reset();
    expectAllEnd(fake, {"launcher", "serving"}, 8, 15s);
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

// Each method answers well first, then as the later replies of its list say.
TEST(Client, ShakesHandsOnceSendsEachCallsExactParamsRefusesMalformedResultsAndReplacesOnlyADeadChild)
{
    const json::value thread{{"id", "t1"}, {"turns", json::array{}}};
    const json::array malformedLists{json::object{{"result", nullptr}}, json::object{{"result", {{"data", "x"}}}},
                                     json::object{{"result", {{"data", {json::object{}, "t"}}}}}};
    const json::array malformedReads{json::object{{"result", "t"}}, json::object{{"result", {{"thread", nullptr}}}}};
    const auto then = [](json::object good, json::array bad) {
        bad.insert(bad.begin(), std::move(good));
        return bad;
    };
    FakeCodex fake({{"version", {{"output", "  codex-cli 1.2.3\n\n"}}},
                    {"stdio",
                     {{"methods",
                       {{"initialize", {{"result", initialized}}},
                        {"thread/list", then({{"result", {{"data", {thread}}, {"nextCursor", nullptr}}}}, malformedLists)},
                        {"thread/read", then({{"result", {{"thread", thread}}}}, malformedReads)},
                        {"account/read", then({{"result", {{"account", nullptr}}}}, {{{"error", {{"message", "authentication required"}}}}})},
                        {"account/rateLimits/read", then({{"result", {{"rateLimits", 1}}}}, {{{"result", "text"}}})},
                        {"turn/interrupt", then({{"result", json::object{}}}, {{{"error", {{"message", "no turn"}}}}})},
                        {"config/read", then({{"result", {{"config", 2}}}}, {{{"exit", 1}}})}}},
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
    json::array sent;
    for (const auto &line : fake.received())
        sent.push_back(json::parse(line));
    EXPECT_EQ(sent, fixture("client-requests.json"));

    // Malformed results are unsupported; optional reads yield nothing on failure, even the child's end.
    for (const auto &reply : malformedLists)
        EXPECT_EQ(errorOf(client.listThreads(20)), unsupported) << json::serialize(reply);
    // The connection's first list scanned the session files; later ones ask the index alone.
    EXPECT_EQ(json::parse(fake.received().back()).at("params").at("useStateDbOnly"), true);
    for (const auto &reply : malformedReads)
        EXPECT_EQ(errorOf(client.readThread("t")), unsupported) << json::serialize(reply);
    EXPECT_THROW(awaitTask(client.interrupt("t", "u")), AppServerError);
    EXPECT_EQ(awaitTask(client.account()), std::nullopt);
    EXPECT_EQ(awaitTask(client.rateLimits()), std::nullopt);
    EXPECT_EQ(awaitTask(client.config()), std::nullopt);

    // A killed child fails both waiting requests at once, and only then is replaced.
    EXPECT_EQ(awaitTask(client.connect()), initialized);
    auto waiting = client.transport().request("a"), alsoWaiting = client.transport().request("b");
    ::kill(static_cast<pid_t>(client.transport().processId()), SIGKILL);
    EXPECT_EQ(errorOf(std::move(waiting)), disconnected);
    EXPECT_EQ(errorOf(std::move(alsoWaiting)), disconnected);
    EXPECT_EQ(awaitTask(client.connect()), initialized);
    EXPECT_EQ(fake.launches().size(), 9u);
}

TEST(Client, ConnectsThroughTheProxyWhenADaemonRunsAndOtherwiseThroughOneDedicatedChild)
{
    const auto rows = fixture("connections.json");
    for (const auto &value : rows.as_array()) {
        const auto &row = value.as_object();
        SCOPED_TRACE(row.at("why").as_string());
        const auto &scenario = row.at("scenario").as_object();
        FakeCodex fake(scenario);
        if (row.contains("noDaemonSocket"))
            fake.removeDaemonSocket();
        // Short only where a time-out is part of the outcome, so a loaded machine cannot fake one.
        AppServerClient client(fastOptions(row.contains("shortTimeout") ? 500ms : 5s));
        const auto error = errorOf(client.connect());
        EXPECT_EQ(error.empty() ? client.connectionMode() : error, row.at("outcome").as_string());
        EXPECT_EQ(client.isRunning(), error.empty());
        const json::value version = row.contains("version") ? row.at("version") : "codex-cli 0.0.0-fake";
        EXPECT_EQ(client.codexVersion(), version.is_null() ? std::nullopt : std::optional(version.as_string().c_str()));
        EXPECT_EQ(json::value_from(fake.launches()), row.at("launches"));
        // An overrun takes the launcher's children with it.
        if (const auto *command = scenario.if_contains("version"); command && command->as_object().contains("hang"))
            expectAllEnd(fake, {"launcher", "hanging"}, 2, 10s);
    }
}

}
}
