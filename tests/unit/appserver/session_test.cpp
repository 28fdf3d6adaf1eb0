// Finding codex, connecting and the typed calls, against the fake App Server.
#include "appserver/app_server_client.h"
#include "appserver/app_server_error.h"

#include "appserver_test_support.h"
#include "fake_codex.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <csignal>

namespace orvane {
namespace {

using namespace std::chrono_literals;
namespace json = boost::json;
using test::awaitTask;
using test::FakeCodex;
using test::outcomeOf;

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
    const auto place = [&](const QString &name, QFile::Permissions permissions) {
        QDir().mkpath(root.filePath(name));
        QFile file(root.filePath(name + "/codex"));
        file.open(QIODevice::WriteOnly);
        file.setPermissions(permissions);
        return file.fileName().toStdString();
    };
    QDir().mkpath(root.filePath("folder/codex"));
    const auto plain = place("plain", QFile::ReadOwner);
    const auto onPath = place("bin", QFile::ReadOwner | QFile::ExeOwner);
    qputenv("PATH", (root.filePath("folder") + ":" + root.filePath("plain") + ":" + root.filePath("bin")).toUtf8());
    qputenv("ORVANE_CODEX", "");
    const auto missing = root.filePath("missing/codex").toStdString();
    // A missing file, a folder and a file without execute permission are passed over.
    EXPECT_EQ(AppServerClient::findCodex({missing}), onPath);
    const auto fixed = place("fixed", QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_EQ(AppServerClient::findCodex({missing, fixed}), fixed);
    qputenv("ORVANE_CODEX", plain.c_str());
    EXPECT_EQ(AppServerClient::findCodex({fixed}), std::nullopt);
    EXPECT_EQ(outcomeOf(AppServerClient().connect()).error,
              "Codex was not found. Install or update the official Codex app or CLI.");
    qunsetenv("ORVANE_CODEX");
    qputenv("PATH", path);
}

// Short waits and no fixed places, so only the fake can be found.
AppServerClientOptions fastOptions(std::chrono::milliseconds requestTimeout = 5s)
{
    AppServerClientOptions options;
    options.requestTimeout = requestTimeout;
    options.commandLimit = 2s;
    options.fixedCandidates = {};
    return options;
}

const json::value initialized{{"userAgent", "fake"}};

TEST(Connect, ShakesHandsOnceForConcurrentCallersThenSendsEachCallsExactParams)
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
                        {"turn/interrupt", {{"result", json::object{}}}}}}}}});
    AppServerClient client(fastOptions());
    auto both = [&]() -> QCoro::Task<std::vector<json::object>> {
        auto first = client.connect();
        auto second = client.connect();
        auto firstResult = co_await std::move(first);
        auto secondResult = co_await std::move(second);
        co_return std::vector{firstResult, secondResult};
    };
    EXPECT_EQ(awaitTask(both()), (std::vector<json::object>{initialized.as_object(), {}}));
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

    // Only a child that died is replaced.
    ::kill(static_cast<pid_t>(client.transport().processId()), SIGKILL);
    ASSERT_TRUE(test::waitUntil([&] { return !client.isRunning(); }));
    EXPECT_EQ(awaitTask(client.connect()), initialized);
    EXPECT_EQ(fake.launches().size(), 6u);
}

struct ConnectCase {
    const char *name;
    const char *scenario; // @ stands for a session that answers initialize
    std::string outcome;  // the mode connected in, or the error
    std::vector<std::string> children;
    std::optional<std::string> version = "codex-cli 0.0.0-fake";
};

class Connecting : public testing::TestWithParam<ConnectCase> {};

TEST_P(Connecting, TriesTheProxyThenOneDedicatedChild)
{
    const auto &row = GetParam();
    std::string scenario = row.scenario;
    for (auto at = scenario.find('@'); at != std::string::npos; at = scenario.find('@'))
        scenario.replace(at, 1, R"({"methods":{"initialize":{"result":{}}}})");
    FakeCodex fake(json::parse(scenario).as_object());
    // Short only where a time-out is the expected outcome, so a loaded machine cannot fake one.
    AppServerClient client(fastOptions(scenario.find("silent") == std::string::npos ? 5s : 500ms));
    const auto outcome = outcomeOf(client.connect());
    EXPECT_EQ(outcome.value ? client.connectionMode() : outcome.error, row.outcome);
    EXPECT_EQ(client.isRunning(), outcome.value.has_value());
    EXPECT_EQ(client.codexVersion(), row.version);
    auto launches = std::vector<std::string>{"--version", "app-server daemon version"};
    launches.insert(launches.end(), row.children.begin(), row.children.end());
    EXPECT_EQ(fake.launches(), launches);
}

const std::string dedicated = "Dedicated stdio", stdio = "app-server --stdio", proxy = "app-server proxy";

INSTANTIATE_TEST_SUITE_P(
    Scenarios, Connecting,
    testing::Values(
        ConnectCase{"versionBlank", R"({"version":{"output":" \n"},"stdio":@})", dedicated, {stdio}, std::nullopt},
        ConnectCase{"versionFailed", R"({"version":{"output":"v\n","exitCode":2},"stdio":@})", dedicated, {stdio}, std::nullopt},
        ConnectCase{"versionNotUtf8", R"({"version":{"outputHex":"ff0a"},"stdio":@})", dedicated, {stdio}, std::nullopt},
        ConnectCase{"versionNeverExits", R"({"version":{"hang":true},"stdio":@})", dedicated, {stdio}, std::nullopt},
        ConnectCase{"proxy", R"({"daemon":{"exitCode":0},"proxy":@})", "Managed daemon proxy", {proxy}},
        ConnectCase{"proxyBadAcceptKey", R"({"daemon":{"exitCode":0},"proxy":{"handshake":"wrongKey"},"stdio":@})",
                    dedicated, {proxy, stdio}},
        ConnectCase{"proxyNoAnswer", R"({"daemon":{"exitCode":0},"proxy":{"handshake":"silent"},"stdio":@})", dedicated,
                    {proxy, stdio}},
        ConnectCase{"proxyExits", R"({"daemon":{"exitCode":0},"stdio":@})", dedicated, {proxy, stdio}},
        ConnectCase{"proxyHandshakeError",
                    R"({"daemon":{"exitCode":0},"proxy":{"default":{"error":{"message":"busy"}}},"stdio":@})", dedicated,
                    {proxy, stdio}},
        ConnectCase{"bothFail", R"({"daemon":{"exitCode":0},"proxy":{"default":{"error":{"message":"first"}}},
                                   "stdio":{"default":{"error":{"message":"second"}}}})",
                    "second", {proxy, stdio}},
        ConnectCase{"silentChild", R"({"stdio":{"default":{"silent":true}}})", AppServerError::timeout().what(), {stdio}},
        ConnectCase{"handshakeNotAnObject", R"({"stdio":{"default":{"result":[]}}})",
                    AppServerError::invalidResponse().what(), {stdio}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Calls, MalformedResultsAreUnsupportedAndOptionalReadsYieldNothingOnFailure)
{
    const json::array lists{json::object{{"result", nullptr}}, json::object{{"result", {{"data", "x"}}}},
                            json::object{{"result", {{"data", {json::object{}, "t"}}}}}};
    const json::array reads{json::object{{"result", "t"}}, json::object{{"result", {{"thread", nullptr}}}}};
    FakeCodex fake({{"stdio",
                     {{"methods",
                       {{"initialize", {{"result", initialized}}},
                        {"thread/list", lists},
                        {"thread/read", reads},
                        {"account/read", {{"error", {{"message", "authentication required"}}}}},
                        {"account/rateLimits/read", {{"result", "text"}}},
                        {"config/read", {{"exit", 1}}}}}}}});
    AppServerClient client(fastOptions());
    awaitTask(client.connect());
    const std::string unsupported = AppServerError::invalidResponse().what();
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
