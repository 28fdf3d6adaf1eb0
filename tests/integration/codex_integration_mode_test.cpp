// `orvane --codex-integration-test` as a whole process, against the fake and the real Codex CLI,
// before and after the real CLI's managed daemon starts. The companion's own move to a daemon
// is companion_daemon_test's.
#include "fake_codex.h"
#include "process_harness.h"

#include <fixture.h>
#include <gtest/gtest.h>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;
namespace json = boost::json;

Finished integrationMode(const QProcessEnvironment &environment)
{
    return run(ORVANE_EXECUTABLE, {"--codex-integration-test"}, environment, 60s);
}

QString text(const json::value &value) { return QString::fromStdString(std::string(value.as_string())); }

// Each in a home of its own, PATH a missing folder so that no codex is found by accident.
void expectOneLineAndNothingLeftBehind()
{
    const auto table = fixture("integration-mode.json");
    for (const auto &row : table.at("rows").as_array()) {
        const auto &scenario = row.at("scenario");
        FakeCodex fake(scenario.is_null() ? json::object() : scenario.as_object());
        QTemporaryDir home;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("PATH", home.filePath("empty"));
        if (scenario.is_null())
            environment.insert("ORVANE_CODEX", home.filePath("missing/codex"));
        const auto finished = integrationMode(environment);
        EXPECT_EQ(finished.out, text(row.at("out")));
        EXPECT_EQ(finished.err, text(row.at("err")).replace("{codex}", environment.value("ORVANE_CODEX")));
        EXPECT_EQ(finished.exitCode, row.at("exitCode").as_int64()) << finished.out.toStdString();
        EXPECT_TRUE(noneLeft(("HOME=" + home.path()).toUtf8()));
    }
}

// One home for the pinned CLI: a dedicated child leaves nothing behind the npm launcher; once the
// managed daemon is installed and started, the same run goes through its proxy.
TEST(IntegrationMode, PrintsOneLineAndExitsThenFollowsTheRealCliToItsManagedDaemon)
{
    const QString codexDir = ORVANE_TEST_CODEX_DIR;
    if (codexDir.isEmpty()) {
        expectOneLineAndNothingLeftBehind();
        GTEST_SKIP() << "ORVANE_TEST_CODEX_DIR is not set";
    }
    ManagedDaemon daemon(codexDir);
    // Its processes are told apart by one more entry in their environment.
    QProcessEnvironment marked = daemon.environment();
    marked.insert("ORVANE_TEST_RUN", "integration");
    const Finished dedicated = integrationMode(marked);
    EXPECT_EQ(dedicated.out, "Codex integration: connected; version=codex-cli 0.171.0; listed=0; "
                             "optionalAccountMethods=1/2; mode=Dedicated stdio\n");
    EXPECT_EQ(dedicated.exitCode, 0) << dedicated.err.toStdString();
    EXPECT_TRUE(noneLeft("ORVANE_TEST_RUN=integration"));

    // Starting the daemon copies the CLI package (about 420 MB) into the home: the fake's cases
    // run meanwhile.
    QProcess starting;
    starting.setProcessEnvironment(daemon.environment());
    starting.start(daemon.codex(), {"app-server", "daemon", "start"});
    expectOneLineAndNothingLeftBehind();
    ASSERT_TRUE(waitUntil([&] { return starting.state() == QProcess::NotRunning; }, 120s));
    ASSERT_TRUE(starting.readAllStandardOutput().contains("\"status\":\"started\"")) << starting.readAllStandardError().toStdString();
    const Finished proxied = integrationMode(daemon.environment());
    EXPECT_EQ(proxied.exitCode, 0) << proxied.err.toStdString();
    EXPECT_TRUE(proxied.out.startsWith("Codex integration: connected; version=codex-cli 0.171.0;"));
    EXPECT_TRUE(proxied.out.endsWith("; mode=Managed daemon proxy\n")) << proxied.out.toStdString();
}

} // namespace
} // namespace orvane::test
