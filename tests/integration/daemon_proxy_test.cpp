// The real Codex CLI's managed daemon, reached through `codex app-server proxy`.
#include "managed_daemon.h"

#include <gtest/gtest.h>

namespace orvane::test {
namespace {

TEST(DaemonProxy, IntegrationTestConnectsThroughTheRunningDaemon)
{
    ManagedDaemon daemon(ORVANE_TEST_CODEX_DIR);
    ASSERT_TRUE(daemon.valid());
    QString failure;
    ASSERT_TRUE(daemon.start(&failure)) << failure.toStdString();

    // The pinned CLI is the `codex` found on PATH.
    const Finished integration = runProcess(ORVANE_BINARY, {"--codex-integration-test"}, daemon.environment());
    EXPECT_EQ(integration.exitCode, 0) << integration.err.toStdString();
    EXPECT_TRUE(integration.out.startsWith("Codex integration: connected; version=codex-cli 0.171.0;"))
        << integration.out.toStdString();
    EXPECT_TRUE(integration.out.trimmed().endsWith("mode=Managed daemon proxy"))
        << integration.out.toStdString();
}

} // namespace
} // namespace orvane::test
