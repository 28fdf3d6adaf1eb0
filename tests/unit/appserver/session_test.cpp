// Connecting and the typed calls, against the fake App Server.
#include "appserver/app_server_client.h"
#include "appserver/app_server_error.h"

#include "await_task.h"
#include "fake_codex.h"

#include <gtest/gtest.h>

#include <csignal>

namespace orvane {
namespace {

using namespace std::chrono_literals;
namespace json = boost::json;

using test::awaitTask;
using test::FakeCodex;

const json::object initialized{{"result", {{"userAgent", "fake"}}}};

// Short waits and no fixed places, so only the fake can be found.
AppServerClientOptions fastOptions(std::chrono::milliseconds requestTimeout = 2s)
{
    AppServerClientOptions options;
    options.requestTimeout = requestTimeout;
    options.commandLimit = 2s;
    options.fixedCandidates = {};
    return options;
}

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

std::vector<json::value> parsed(const std::vector<std::string> &lines)
{
    std::vector<json::value> values;
    for (const auto &line : lines)
        values.push_back(json::parse(line));
    return values;
}

const json::value handshake = json::parse(
    R"({"method":"initialize","id":1,"params":{"clientInfo":{"name":"orvane","title":"Orvane Companion","version":"0.1.0"},"capabilities":{"experimentalApi":false}}})");
const std::string noResponse = AppServerError::timeout().what();
const std::string unsupported = AppServerError::invalidResponse().what();

TEST(Connect, ShakesHandsOnceAndASecondConnectSendsNothing)
{
    FakeCodex fake({{"version", {{"output", "  codex-cli 1.2.3\n\n"}}}, {"stdio", {{"methods", {{"initialize", initialized}}}}}});
    AppServerClient client(fastOptions());
    EXPECT_EQ(awaitTask(client.connect()), initialized.at("result"));
    EXPECT_EQ(client.codexPath(), FakeCodex::executable().toStdString());
    EXPECT_EQ(client.codexVersion(), "codex-cli 1.2.3");
    EXPECT_EQ(client.connectionMode(), "Dedicated stdio");
    EXPECT_EQ(awaitTask(client.connect()), json::object{});
    // Answered in order, so the fake has logged everything before it.
    EXPECT_EQ(awaitTask(client.config()), std::nullopt);
    client.disconnect();
    EXPECT_EQ(parsed(fake.received()),
              (std::vector<json::value>{handshake, json::parse(R"({"method":"initialized"})"),
                                        json::parse(R"({"method":"config/read","id":2,"params":{"includeLayers":false}})")}));
    EXPECT_EQ(fake.launches(),
              (std::vector<std::string>{"--version", "app-server daemon version", "app-server --stdio"}));
}

TEST(Connect, ConcurrentCallersShareOneChild)
{
    FakeCodex fake({{"stdio", {{"methods", {{"initialize", initialized}}}}}});
    AppServerClient client(fastOptions());
    auto both = [&]() -> QCoro::Task<bool> {
        auto first = client.connect();
        auto second = client.connect();
        co_await std::move(first);
        co_await std::move(second);
        co_return true;
    };
    EXPECT_TRUE(awaitTask(both()));
    client.disconnect();
    EXPECT_EQ(fake.launches().size(), 3u);
}

struct VersionCase {
    const char *name;
    json::object version;
    std::optional<std::string> expected;
};

class VersionQuery : public testing::TestWithParam<VersionCase> {};

TEST_P(VersionQuery, NeverStopsConnecting)
{
    FakeCodex fake({{"version", GetParam().version}, {"stdio", {{"methods", {{"initialize", initialized}}}}}});
    AppServerClient client(fastOptions());
    awaitTask(client.connect(), 10s);
    EXPECT_EQ(client.codexVersion(), GetParam().expected);
    EXPECT_TRUE(client.isRunning());
    client.disconnect();
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, VersionQuery,
    testing::Values(VersionCase{"trimmed", {{"output", "\tcodex-cli 0.171.0\r\n"}}, "codex-cli 0.171.0"},
                    VersionCase{"emptyIsNone", {{"output", " \n"}}, std::nullopt},
                    VersionCase{"failedStatus", {{"output", "codex-cli 9\n"}, {"exitCode", 2}}, std::nullopt},
                    VersionCase{"notUtf8", {{"outputHex", "636f6465782dff0a"}}, std::nullopt},
                    VersionCase{"neverExits", {{"hang", true}}, std::nullopt}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Connect, AProxyThatFailsItsHandshakeFallsBackToADedicatedChild)
{
    FakeCodex fake({{"daemon", {{"exitCode", 0}}},
                    {"proxy", {{"methods", {{"initialize", {{"error", {{"message", "daemon is busy"}}}}}}}}},
                    {"stdio", {{"methods", {{"initialize", initialized}}}}}});
    AppServerClient client(fastOptions());
    EXPECT_EQ(awaitTask(client.connect()), initialized.at("result"));
    EXPECT_EQ(client.connectionMode(), "Dedicated stdio");
    client.disconnect();
    EXPECT_EQ(fake.launches(), (std::vector<std::string>{"--version", "app-server daemon version",
                                                         "app-server proxy", "app-server --stdio"}));
}

TEST(Connect, AWorkingProxyIsKept)
{
    FakeCodex fake({{"daemon", {{"output", ""}, {"exitCode", 0}}}, {"proxy", {{"methods", {{"initialize", initialized}}}}}});
    AppServerClient client(fastOptions());
    awaitTask(client.connect());
    EXPECT_EQ(client.connectionMode(), "Managed daemon proxy");
    client.disconnect();
}

struct FailureCase {
    const char *name;
    json::object scenario;
    std::string error;
    std::vector<std::string> launches;
    // Short only where the time-out is the expected outcome.
    std::chrono::milliseconds requestTimeout = 5s;
};

class ConnectFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(ConnectFailure, ThrowsTheLastAttemptsErrorAndLeavesNoChild)
{
    FakeCodex fake(GetParam().scenario);
    AppServerClient client(fastOptions(GetParam().requestTimeout));
    EXPECT_EQ(errorOf(client.connect()), GetParam().error);
    EXPECT_FALSE(client.isRunning());
    EXPECT_EQ(fake.launches(), GetParam().launches);
}

const std::vector<std::string> probes{"--version", "app-server daemon version"};
std::vector<std::string> probesThen(std::vector<std::string> children)
{
    children.insert(children.begin(), probes.begin(), probes.end());
    return children;
}

json::object scenario(std::string_view text)
{
    return json::parse(text).as_object();
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, ConnectFailure,
    testing::Values(
        FailureCase{"silentDedicatedChild", scenario(R"({"stdio":{"default":{"silent":true}}})"), noResponse,
                    probesThen({"app-server --stdio"}), 300ms},
        FailureCase{"handshakeError", scenario(R"({"stdio":{"default":{"error":{"message":"not today"}}}})"),
                    "not today", probesThen({"app-server --stdio"})},
        FailureCase{"handshakeNotAnObject", scenario(R"({"stdio":{"default":{"result":[]}}})"), unsupported,
                    probesThen({"app-server --stdio"})},
        FailureCase{"childExitsDuringHandshake", scenario(R"({"stdio":{"default":{"exit":1}}})"),
                    AppServerError::disconnected().what(), probesThen({"app-server --stdio"})},
        FailureCase{"bothProxyAndDedicatedFail",
                    scenario(R"({"daemon":{"exitCode":0},"proxy":{"default":{"error":{"message":"first"}}},
                                 "stdio":{"default":{"error":{"message":"second"}}}})"),
                    "second", probesThen({"app-server proxy", "app-server --stdio"})}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Connect, NoCodexAnywhereIsCodexMissing)
{
    qputenv("ORVANE_CODEX", "/nonexistent/codex");
    AppServerClient client(fastOptions());
    EXPECT_EQ(errorOf(client.connect()), "Codex was not found. Install or update the official Codex app or CLI.");
    qunsetenv("ORVANE_CODEX");
}

TEST(Connect, AfterTheChildDiesTheNextConnectStartsANewOne)
{
    FakeCodex fake({{"stdio", {{"methods", {{"initialize", initialized}}}, {"default", {{"silent", true}}}}}});
    AppServerClient client(fastOptions(30s));
    awaitTask(client.connect());
    const auto firstPid = client.transport().processId();
    auto killed = [&]() -> QCoro::Task<std::vector<std::string>> {
        auto first = client.listThreads(1);
        auto second = client.readThread("t1");
        ::kill(static_cast<pid_t>(firstPid), SIGKILL);
        std::vector<std::string> errors;
        try {
            co_await std::move(first);
        } catch (const std::exception &error) {
            errors.emplace_back(error.what());
        }
        try {
            co_await std::move(second);
        } catch (const std::exception &error) {
            errors.emplace_back(error.what());
        }
        co_return errors;
    };
    const std::string gone = AppServerError::disconnected().what();
    EXPECT_EQ(awaitTask(killed(), 10s), (std::vector<std::string>{gone, gone}));
    EXPECT_EQ(awaitTask(client.connect()), initialized.at("result"));
    EXPECT_NE(client.transport().processId(), firstPid);
    client.disconnect();
}

TEST(Calls, SendExactlyTheirParamsAndReturnTheirPart)
{
    const json::value thread{{"id", "t1"}, {"updatedAt", 1.7e9}, {"turns", json::array{}}};
    FakeCodex fake({{"stdio",
                     {{"methods",
                       {{"initialize", initialized},
                        {"thread/list", {{"result", {{"data", {thread}}, {"nextCursor", nullptr}}}}},
                        {"thread/read", {{"result", {{"thread", thread}}}}},
                        {"account/read", {{"result", {{"account", nullptr}}}}},
                        {"account/rateLimits/read", {{"result", {{"rateLimits", {{"primary", nullptr}}}}}}},
                        {"config/read", {{"result", {{"config", {{"model", "m"}}}}}}},
                        {"turn/interrupt", {{"result", json::object{}}}}}}}}});
    AppServerClient client(fastOptions());
    awaitTask(client.connect());
    EXPECT_EQ(awaitTask(client.listThreads(1)), json::array{thread});
    EXPECT_EQ(awaitTask(client.readThread("t1")), thread.as_object());
    EXPECT_EQ(awaitTask(client.account()), (json::object{{"account", nullptr}}));
    EXPECT_EQ(awaitTask(client.rateLimits()), (json::object{{"rateLimits", {{"primary", nullptr}}}}));
    EXPECT_EQ(awaitTask(client.config()), (json::object{{"config", {{"model", "m"}}}}));
    awaitTask(client.interrupt("t1", "u1"));
    client.disconnect();

    const std::vector<json::value> expected{
        handshake,
        json::parse(R"({"method":"initialized"})"),
        json::parse(R"({"method":"thread/list","id":2,"params":{"limit":1,"sortKey":"updated_at","sortDirection":"desc","archived":false}})"),
        json::parse(R"({"method":"thread/read","id":3,"params":{"threadId":"t1","includeTurns":true}})"),
        json::parse(R"({"method":"account/read","id":4,"params":{"refreshToken":false}})"),
        json::parse(R"({"method":"account/rateLimits/read","id":5,"params":null})"),
        json::parse(R"({"method":"config/read","id":6,"params":{"includeLayers":false}})"),
        json::parse(R"({"method":"turn/interrupt","id":7,"params":{"threadId":"t1","turnId":"u1"}})")};
    EXPECT_EQ(parsed(fake.received()), expected);
}

TEST(Calls, MalformedListAndReadResultsAreUnsupported)
{
    const std::vector<json::value> lists{json::object{}, json::value(nullptr), json::array{}, json::value{{"data", "x"}},
                                         json::value{{"data", {1}}}, json::value{{"data", {json::object{}, "t"}}}};
    const std::vector<json::value> reads{json::object{}, json::value("t"), json::value{{"thread", json::array{}}},
                                         json::value{{"thread", nullptr}}};
    json::array listReplies, readReplies;
    for (const auto &result : lists)
        listReplies.push_back(json::object{{"result", result}});
    for (const auto &result : reads)
        readReplies.push_back(json::object{{"result", result}});
    FakeCodex fake({{"stdio", {{"methods", {{"initialize", initialized}, {"thread/list", listReplies}, {"thread/read", readReplies}}}}}});
    AppServerClient client(fastOptions());
    awaitTask(client.connect());
    for (const auto &result : lists)
        EXPECT_EQ(errorOf(client.listThreads(20)), unsupported) << json::serialize(result);
    for (const auto &result : reads)
        EXPECT_EQ(errorOf(client.readThread("t")), unsupported) << json::serialize(result);
    EXPECT_EQ(errorOf(client.interrupt("t", "u")), "unknown method turn/interrupt");
    client.disconnect();
}

TEST(Calls, OptionalReadsYieldNothingOnAnyFailure)
{
    // Each optional read meets an error, a non-object result, silence and a dead child in turn.
    const json::array failures{json::object{{"error", {{"message", "authentication required"}}}},
                               json::object{{"result", "text"}}, json::object{{"silent", true}},
                               json::object{{"exit", 1}}};
    for (const char *method : {"account/read", "account/rateLimits/read", "config/read"})
        for (const auto &failure : failures) {
            FakeCodex fake({{"stdio", {{"methods", {{"initialize", initialized}, {method, failure}}}}}});
            AppServerClient client(fastOptions(1s));
            awaitTask(client.connect());
            const std::string name = method;
            auto read = name == "account/read"              ? client.account()
                        : name == "account/rateLimits/read" ? client.rateLimits()
                                                            : client.config();
            EXPECT_EQ(awaitTask(std::move(read)), std::nullopt) << method << " " << json::serialize(failure);
            client.disconnect();
        }
}

}
}
