// One companion per user: later starts and command-line requests find the running `orvane`
// through its socket, a crashed one never blocks the next, and two starting together leave one.
// Codex is absent here, so the companion runs and reports it missing.
#include "headless_support.h"
#include "relay_test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QStandardPaths>

#include <csignal>
#include <memory>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;

const QString orvane = QStringLiteral(ORVANE_EXECUTABLE);
const QString codexMissing = QStringLiteral("Codex was not found. Install or update the official Codex app or CLI.");

QProcessEnvironment withoutCodex()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ORVANE_CODEX"), QStringLiteral("/nonexistent/codex"));
    environment.insert(QStringLiteral("ORVANE_RELAY_URL"), QStringLiteral("http://127.0.0.1:9"));
    return environment;
}

Finished orvaneRun(const QStringList &arguments, std::chrono::milliseconds limit = 30s)
{
    return run(orvane, arguments, withoutCodex(), limit);
}

TEST(HeadlessInstance, LaterStartsAndRequestsReachTheRunningCompanion)
{
    // With nothing running, a request acts on a model of its own that never starts.
    const Finished alone = orvaneRun({"--status"});
    EXPECT_EQ(alone.exitCode, 0) << alone.err.toStdString();
    EXPECT_TRUE(alone.out.contains("Companion: disconnected\n")) << alone.out.toStdString();
    EXPECT_TRUE(alone.out.endsWith("Last error: none\n")) << alone.out.toStdString();

    auto first = std::make_unique<RunningCompanion>(orvane, withoutCodex());
    ASSERT_TRUE(first->waitForLine("Not paired.")) << first->lines().join('\n').toStdString();
    ASSERT_TRUE(first->waitForLine("Codex not connected: " + codexMissing)) << first->lines().join('\n').toStdString();

    // Each limit is far above what a correct answer takes, and far below the 10 s a start
    // waits for a companion that holds the lock without answering.
    struct Row {
        QStringList arguments;
        int exitCode;
        QString out;
        QString err;
    };
    const std::vector<Row> table{
        {{"--headless"}, 1, "", "Orvane is already running.\n"},
        {{"--headless", "--unknown"}, 1, "", "Orvane is already running.\n"},
        {{}, 0, "", ""}, // asks the running one to show its window
        {{"--pair", "12345"}, 1, "", "Enter the six digits shown on the glasses.\n"},
        {{"--pair"}, 1, "", "Enter the six digits shown on the glasses.\n"},
        {{"--unpair"}, 0, "Pairing removed and relay data deleted.\n", ""},
        {{"--version", "--headless"}, 0, "orvane 0.1.0\n", ""},
    };
    for (const Row &row : table) {
        const Finished finished = orvaneRun(row.arguments, 5s);
        EXPECT_EQ(finished.exitCode, row.exitCode) << row.arguments.join(' ').toStdString();
        EXPECT_EQ(finished.out, row.out) << row.arguments.join(' ').toStdString();
        EXPECT_EQ(finished.err, row.err) << row.arguments.join(' ').toStdString();
    }

    // The running companion's own report: it has refreshed, and failed to find Codex.
    const Finished status = orvaneRun({"--bogus", "--status"}, 5s);
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_TRUE(status.out.startsWith("Orvane Companion 0.1.0\n")) << status.out.toStdString();
    EXPECT_TRUE(status.out.endsWith("Last error: " + codexMissing + "\n")) << status.out.toStdString();

    const Finished help = orvaneRun({"--help"}, 5s);
    EXPECT_EQ(help.exitCode, 0);
    for (const char *word : {"--headless", "--pair PIN", "--unpair", "--status", "--self-test", "--codex-integration-test",
                             "--version", "ORVANE_RELAY_URL", "ORVANE_CODEX", "ORVANE_CREDENTIAL_STORE"})
        EXPECT_TRUE(help.out.contains(word)) << word;

    // The modes that end the process never ask the running companion anything.
    const Finished selfTest = orvaneRun({"--self-test"}, 60s);
    EXPECT_EQ(selfTest.exitCode, 0);
    EXPECT_EQ(selfTest.out, "Companion self-tests: 5 passed\n");
    const Finished integration = orvaneRun({"--codex-integration-test"}, 60s);
    EXPECT_EQ(integration.exitCode, 1);
    EXPECT_EQ(integration.err, "Codex integration failed: " + codexMissing + "\n");

    // A crash leaves the socket file behind; it must not block the next start.
    ::kill(static_cast<pid_t>(first->pid()), SIGKILL);
    ASSERT_TRUE(first->waitForExit(10s));
    first.reset();
    const QString socket = QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
                               .filePath(QStringLiteral("orvane/instance.socket"));
    EXPECT_TRUE(QFile::exists(socket));
    // A plain start runs the companion too; there is no window yet.
    RunningCompanion second(orvane, withoutCodex(), {});
    ASSERT_TRUE(second.waitForLine("Not paired.")) << second.errors().toStdString();
    ASSERT_TRUE(second.waitForLine("Codex not connected: " + codexMissing));
    EXPECT_TRUE(orvaneRun({"--status"}, 5s).out.endsWith("Last error: " + codexMissing + "\n"));
}

// Which of the two ended first, within `limit`.
RunningCompanion *firstToEnd(RunningCompanion &one, RunningCompanion &two, std::chrono::milliseconds limit)
{
    RunningCompanion *ended = nullptr;
    waitUntil(
        [&] {
            ended = !one.running() ? &one : !two.running() ? &two : nullptr;
            return ended != nullptr;
        },
        limit);
    return ended;
}

TEST(HeadlessInstance, TwoStartingTogetherLeaveOne)
{
    for (int round = 0; round < 3; ++round) {
        RunningCompanion one(orvane, withoutCodex());
        RunningCompanion two(orvane, withoutCodex());
        // Exactly one ends, at once and with the message; the other runs on and answers.
        RunningCompanion *ended = firstToEnd(one, two, 5s);
        ASSERT_NE(ended, nullptr) << "round " << round;
        RunningCompanion &survivor = ended == &one ? two : one;
        EXPECT_EQ(ended->exitCode(), 1);
        EXPECT_EQ(ended->errors(), "Orvane is already running.\n");
        EXPECT_FALSE(survivor.waitForExit(1s)) << "round " << round;
        EXPECT_TRUE(survivor.waitForLine("Not paired."));
        const Finished status = orvaneRun({"--status"}, 5s);
        EXPECT_EQ(status.exitCode, 0) << status.err.toStdString();
    }
}

} // namespace
} // namespace orvane::test
