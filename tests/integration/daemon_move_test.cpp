// The real Codex CLI's managed daemon: a companion started before it moves to its proxy without
// a restart, and the integration mode then connects through it.
#include "companion_harness.h"
#include "process_harness.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;

TEST(DaemonMove, ACompanionStartedBeforeTheDaemonMovesToItsProxy)
{
    ManagedDaemon daemon(ORVANE_TEST_CODEX_DIR);
    // The App Server children inherit this process's environment.
    for (const char *name : {"HOME", "PATH"})
        qputenv(name, daemon.environment().value(name).toUtf8());
    qunsetenv("CODEX_HOME");
    qputenv("ORVANE_CODEX", daemon.codex().toUtf8());

    auto options = testOptions(500ms);
    options.appServer.requestTimeout = 30s; // the first start in a fresh home is slow under load
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
    QElapsedTimer sinceDaemon;
    sinceDaemon.start();
    ASSERT_TRUE(waitUntil([&] { return model->appServer().connectionMode() == "Managed daemon proxy"; }, 30s))
        << model->debugReport();
    EXPECT_LT(sinceDaemon.elapsed(), 30'000);
    const auto before = model->lastSync();
    ASSERT_TRUE(waitUntil([&] { return model->lastSync() > before && model->codexConnected() && !model->lastError(); }, 30s))
        << model->debugReport();
    const auto report = model->debugReport();
    EXPECT_NE(report.find("\nCompanion: connected\n"), std::string::npos) << report;
    EXPECT_NE(report.find("\nConnection mode: Managed daemon proxy\n"), std::string::npos) << report;

    const Finished integration = run(ORVANE_EXECUTABLE, {"--codex-integration-test"}, daemon.environment());
    EXPECT_EQ(integration.exitCode, 0) << integration.err.toStdString();
    EXPECT_TRUE(integration.out.startsWith("Codex integration: connected; version=codex-cli 0.171.0;"));
    EXPECT_TRUE(integration.out.endsWith("; mode=Managed daemon proxy\n")) << integration.out.toStdString();
}

} // namespace
} // namespace orvane::test
