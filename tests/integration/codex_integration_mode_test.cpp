// `orvane --codex-integration-test` as a whole process, against the fake and the real Codex CLI,
// and the companion moving to the real CLI's managed daemon.
#include "companion_harness.h"
#include "fake_codex.h"
#include "process_harness.h"

#include <gtest/gtest.h>

#include <QDir>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;
namespace json = boost::json;

Finished integrationMode(const QProcessEnvironment &environment)
{
    return run(ORVANE_EXECUTABLE, {"--codex-integration-test"}, environment, 60s);
}

QString text(const json::value &value)
{
    return QString::fromStdString(std::string(value.as_string()));
}

// Each in a home of its own, PATH an empty folder so that no codex is found by accident; the
// fake is told its scenario through the child's environment alone, so a companion running in
// this process is not disturbed.
void expectOneLineAndNothingLeftBehind()
{
    const auto table = fixture("integration-mode.json");
    for (const auto &row : table.at("rows").as_array()) {
        QTemporaryDir dir;
        for (const char *name : {"home", "empty", "tmp"})
            QDir(dir.path()).mkpath(name);
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", dir.filePath("home"));
        environment.insert("TMPDIR", dir.filePath("tmp"));
        environment.insert("PATH", dir.filePath("empty"));
        const auto &scenario = row.at("scenario");
        environment.insert("ORVANE_CODEX", scenario.is_null() ? dir.filePath("home/missing/codex") : FakeCodex::executable());
        if (!scenario.is_null()) {
            QFile file(dir.filePath("scenario.json"));
            file.open(QIODevice::WriteOnly);
            file.write(QByteArray::fromStdString(json::serialize(scenario)));
            environment.insert("ORVANE_FAKE_SCENARIO", file.fileName());
        }
        const auto finished = integrationMode(environment);
        EXPECT_EQ(finished.out, text(row.at("out")));
        EXPECT_EQ(finished.err, text(row.at("err")).replace("{codex}", environment.value("ORVANE_CODEX")));
        EXPECT_EQ(finished.exitCode, row.at("exitCode").as_int64()) << finished.out.toStdString();
        EXPECT_TRUE(noneLeft(("HOME=" + dir.filePath("home")).toUtf8()));
    }
}

// One home for the pinned CLI: a companion connects over a dedicated child while the
// integration mode does the same and leaves nothing behind the npm launcher; the managed daemon
// is installed and started meanwhile, and the companion moves to its proxy without a restart,
// where the integration mode connects too.
TEST(IntegrationMode, PrintsOneLineAndExitsThenFollowsTheRealCliToItsManagedDaemon)
{
    const QString codexDir = ORVANE_TEST_CODEX_DIR;
    if (codexDir.isEmpty()) {
        expectOneLineAndNothingLeftBehind();
        GTEST_SKIP() << "ORVANE_TEST_CODEX_DIR is not set";
    }
    ManagedDaemon daemon(codexDir);
    // The model's App Server children inherit this process's environment.
    for (const char *name : {"HOME", "PATH"})
        qputenv(name, daemon.environment().value(name).toUtf8());
    qunsetenv("CODEX_HOME");
    qputenv("ORVANE_CODEX", daemon.codex().toUtf8());
    auto options = testOptions(500ms);
    options.appServer.requestTimeout = 30s; // a start in a fresh home is slow under load
    options.daemonRecheckInterval = 2s;
    options.credentialStore.load = [](std::string_view) { return std::nullopt; };
    auto model = std::make_unique<CompanionModel>(options);
    // Ended between refreshes also when the test stops early, so nothing it started outlives it.
    const std::shared_ptr<void> end(nullptr, [&](void *) { destroyWhenIdle(model); });
    model->start();

    // Its processes are told apart from the companion's, which share the home, by one more entry.
    QProcessEnvironment marked = daemon.environment();
    marked.insert("ORVANE_TEST_RUN", "integration");
    const Finished dedicated = integrationMode(marked);
    EXPECT_EQ(dedicated.out, "Codex integration: connected; version=codex-cli 0.171.0; listed=0; "
                             "optionalAccountMethods=1/2; mode=Dedicated stdio\n");
    EXPECT_EQ(dedicated.exitCode, 0) << dedicated.err.toStdString();
    EXPECT_TRUE(noneLeft("ORVANE_TEST_RUN=integration"));

    ASSERT_TRUE(waitUntil([&] { return model->codexConnected(); }, 90s)) << model->lastError().value_or("");
    EXPECT_EQ(model->appServer().connectionMode(), "Dedicated stdio");
    EXPECT_EQ(model->appServer().codexVersion(), "codex-cli 0.171.0");
    EXPECT_EQ(model->authenticationMode(), "unknown");
    ASSERT_TRUE(waitUntil([&] { return model->usage().has_value(); }));
    EXPECT_EQ(model->usage()->unavailableReason, "The installed App Server or account did not return rate limits.");

    // Starting the daemon copies the CLI package (about 420 MB) into the home: the fake's cases
    // run meanwhile.
    QProcess starting;
    starting.setProcessEnvironment(daemon.environment());
    starting.start(daemon.codex(), {"app-server", "daemon", "start"});
    expectOneLineAndNothingLeftBehind();
    ASSERT_TRUE(waitUntil([&] { return starting.state() == QProcess::NotRunning; }, 120s));
    ASSERT_TRUE(starting.readAllStandardOutput().contains("\"status\":\"started\"")) << starting.readAllStandardError().toStdString();
    ASSERT_TRUE(waitUntil([&] { return model->appServer().connectionMode() == "Managed daemon proxy"; }, 30s))
        << model->debugReport();
    const auto before = model->lastSync();
    ASSERT_TRUE(waitUntil([&] { return model->lastSync() > before && model->codexConnected() && !model->lastError(); }, 30s))
        << model->debugReport();
    EXPECT_NE(model->debugReport().find("\nCompanion: connected\n"), std::string::npos) << model->debugReport();

    const Finished proxied = integrationMode(daemon.environment());
    EXPECT_EQ(proxied.exitCode, 0) << proxied.err.toStdString();
    EXPECT_TRUE(proxied.out.startsWith("Codex integration: connected; version=codex-cli 0.171.0;"));
    EXPECT_TRUE(proxied.out.endsWith("; mode=Managed daemon proxy\n")) << proxied.out.toStdString();
}

} // namespace
} // namespace orvane::test
