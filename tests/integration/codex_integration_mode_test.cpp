// `orvane --codex-integration-test` as a whole process, against the fake and the real Codex CLI,
// and the companion moving to the real CLI's managed daemon.
#include "appserver/app_server_transport.h"
#include "appserver/line_framing.h"

#include <waits.h>
#include "companion_harness.h"
#include "fake_codex.h"
#include "process_harness.h"

#include <gtest/gtest.h>

#include <QDir>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;
namespace json = boost::json;

// A home of its own; PATH is an empty folder so that no codex is found by accident.
struct Sandbox {
    QTemporaryDir dir;
    QProcessEnvironment environment;
    QByteArray homeEntry;
    Sandbox()
    {
        for (const char *name : {"home", "empty", "tmp"})
            QDir(dir.path()).mkpath(name);
        environment = QProcessEnvironment::systemEnvironment();
        environment.remove("ORVANE_CODEX");
        environment.insert("HOME", dir.filePath("home"));
        environment.insert("TMPDIR", dir.filePath("tmp"));
        environment.insert("PATH", dir.filePath("empty"));
        homeEntry = ("HOME=" + dir.filePath("home")).toUtf8();
    }
};

struct ModeRow {
    const char *scenario; // for the fake, or nullptr for no codex at all
    const char *out;
    const char *err;
    int exitCode;
};

TEST(IntegrationMode, PrintsOneLineAndExitsLeavingNothingBehind)
{
    const ModeRow rows[]{
        {nullptr, "", "Codex integration failed: ORVANE_CODEX is set to \"%1\", which is not an executable file. Point it at the "
                      "codex executable, or unset it to look in the usual places and PATH.\n", 1},
        {R"({"version":{"output":"codex-cli 1.2.3\n"},"stdio":{"methods":{"initialize":{"result":{}},
            "thread/list":{"result":{"data":[{"id":"t1","updatedAt":1}]}},"account/read":{"result":{"account":null}}}}})",
         "Codex integration: connected; version=codex-cli 1.2.3; listed=1; optionalAccountMethods=1/2; mode=Dedicated stdio\n", "", 0},
        {R"({"version":{"output":"\n"},"stdio":{"methods":{"initialize":{"result":{}},"thread/list":{"result":{"data":[]}},
            "account/read":{"result":{}},"account/rateLimits/read":{"result":{}}}}})",
         "Codex integration: connected; version=unknown; listed=0; optionalAccountMethods=2/2; mode=Dedicated stdio\n", "", 0},
        {R"({"stdio":{"methods":{"initialize":{"result":{}},"thread/list":{"result":{"threads":[]}}}}})", "",
         "Codex integration failed: The Codex App Server returned an unsupported response.\n", 1},
    };
    for (const auto &row : rows) {
        Sandbox sandbox;
        std::optional<FakeCodex> fake;
        if (row.scenario) {
            fake.emplace(json::parse(row.scenario).as_object());
            sandbox.environment.insert("ORVANE_CODEX", FakeCodex::executable());
            sandbox.environment.insert("ORVANE_FAKE_SCENARIO", fake->scenarioPath());
        } else {
            sandbox.environment.insert("ORVANE_CODEX", sandbox.dir.filePath("home/missing/codex"));
        }
        const auto finished = run(ORVANE_EXECUTABLE, {"--codex-integration-test"}, sandbox.environment, 60s);
        EXPECT_EQ(finished.out, row.out);
        EXPECT_EQ(finished.err, QString(row.err).arg(sandbox.environment.value("ORVANE_CODEX")));
        EXPECT_EQ(finished.exitCode, row.exitCode) << row.out;
        EXPECT_TRUE(noneLeft(sandbox.homeEntry));
    }
}

// One home for the pinned CLI: the integration mode over a dedicated child, nothing left behind
// the npm launcher, then a companion started before the managed daemon moves to its proxy without
// a restart, and the integration mode connects through it.
TEST(RealCodex, DedicatedChildFirstThenACompanionMovesToTheManagedDaemon)
{
    const QString codexDir = ORVANE_TEST_CODEX_DIR;
    if (codexDir.isEmpty())
        GTEST_SKIP() << "ORVANE_TEST_CODEX_DIR is not set";
    ManagedDaemon daemon(codexDir);
    const QByteArray homeEntry = "HOME=" + daemon.environment().value("HOME").toUtf8();
    const auto integration = [&] { return run(ORVANE_EXECUTABLE, {"--codex-integration-test"}, daemon.environment(), 60s); };
    const Finished dedicated = integration();
    EXPECT_EQ(dedicated.out, "Codex integration: connected; version=codex-cli 0.171.0; listed=0; "
                             "optionalAccountMethods=1/2; mode=Dedicated stdio\n");
    EXPECT_EQ(dedicated.exitCode, 0) << dedicated.err.toStdString();
    EXPECT_TRUE(noneLeft(homeEntry));

    // The App Server children inherit this process's environment.
    for (const char *name : {"HOME", "PATH"})
        qputenv(name, daemon.environment().value(name).toUtf8());
    qunsetenv("CODEX_HOME");
    qputenv("ORVANE_CODEX", daemon.codex().toUtf8());
    AppServerTransport transport(30s);
    awaitTask(transport.start(daemon.codex(), {"app-server", "--stdio"}, std::make_unique<LineFraming>()));
    const json::value client{{"clientInfo", {{"name", "orvane"}, {"title", "Orvane Companion"}, {"version", "0.1.0"}}},
                             {"capabilities", {{"experimentalApi", false}}}};
    EXPECT_TRUE(awaitTask(transport.request("initialize", client)).is_object());
    EXPECT_GE(processesWith(homeEntry).size(), 2u); // the launcher and its App Server
    transport.disconnect();
    EXPECT_TRUE(noneLeft(homeEntry));

    auto options = testOptions(500ms);
    options.appServer.requestTimeout = 30s; // a start in a fresh home is slow under load
    options.daemonRecheckInterval = 3s;
    options.credentialStore.load = [](std::string_view) { return std::nullopt; };
    auto model = std::make_unique<CompanionModel>(options);
    // Ended between refreshes also when the test stops early, so nothing it started outlives it.
    const std::shared_ptr<void> end(nullptr, [&](void *) { destroyWhenIdle(model); });
    model->start();
    ASSERT_TRUE(waitUntil([&] { return model->codexConnected(); }, 90s)) << model->lastError().value_or("");
    EXPECT_EQ(model->appServer().connectionMode(), "Dedicated stdio");
    EXPECT_EQ(model->appServer().codexVersion(), "codex-cli 0.171.0");

    const QString failure = daemon.start();
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();
    ASSERT_TRUE(waitUntil([&] { return model->appServer().connectionMode() == "Managed daemon proxy"; }, 30s))
        << model->debugReport();
    const auto before = model->lastSync();
    ASSERT_TRUE(waitUntil([&] { return model->lastSync() > before && model->codexConnected() && !model->lastError(); }, 30s))
        << model->debugReport();
    const auto report = model->debugReport();
    EXPECT_NE(report.find("\nCompanion: connected\n"), std::string::npos) << report;
    EXPECT_NE(report.find("\nConnection mode: Managed daemon proxy\n"), std::string::npos) << report;

    const Finished proxied = integration();
    EXPECT_EQ(proxied.exitCode, 0) << proxied.err.toStdString();
    EXPECT_TRUE(proxied.out.startsWith("Codex integration: connected; version=codex-cli 0.171.0;"));
    EXPECT_TRUE(proxied.out.endsWith("; mode=Managed daemon proxy\n")) << proxied.out.toStdString();
}

} // namespace
} // namespace orvane::test
