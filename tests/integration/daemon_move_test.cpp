// A companion started before the real Codex CLI's managed daemon moves to it once it runs,
// without being restarted.
#include "companion_harness.h"
#include "managed_daemon.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;

// Ends the model only between refreshes, also when the test stops early, so nothing it
// started outlives the test.
struct IdleEnd {
    std::unique_ptr<CompanionModel> &model;
    ~IdleEnd()
    {
        if (model)
            destroyWhenIdle(model);
    }
};

TEST(DaemonMove, ACompanionStartedBeforeTheDaemonMovesToItsProxy)
{
    ManagedDaemon daemon(ORVANE_TEST_CODEX_DIR);
    ASSERT_TRUE(daemon.valid());
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
    IdleEnd end{model};
    model->start();

    ASSERT_TRUE(waitUntil([&] { return model->codexConnected(); }, 90s)) << model->lastError().value_or("");
    EXPECT_EQ(model->appServer().connectionMode(), "Dedicated stdio");
    EXPECT_EQ(model->appServer().codexVersion(), "codex-cli 0.171.0");

    QString failure;
    ASSERT_TRUE(daemon.start(&failure)) << failure.toStdString();
    QElapsedTimer sinceDaemon;
    sinceDaemon.start();
    ASSERT_TRUE(waitUntil([&] { return model->appServer().connectionMode() == "Managed daemon proxy"; }, 30s))
        << model->debugReport();
    EXPECT_LT(sinceDaemon.elapsed(), 30'000);
    // A refresh through the daemon succeeds and the report says so.
    const auto before = model->lastSync();
    ASSERT_TRUE(waitUntil([&] { return model->lastSync() > before && model->codexConnected() && !model->lastError(); },
                          30s))
        << model->debugReport();
    const auto report = model->debugReport();
    EXPECT_NE(report.find("\nConnection mode: Managed daemon proxy\n"), std::string::npos) << report;
    EXPECT_NE(report.find("\nCompanion: connected\n"), std::string::npos) << report;
}

} // namespace
} // namespace orvane::test
