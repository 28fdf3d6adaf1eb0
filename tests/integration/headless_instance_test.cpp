// One `orvane --headless` per user against the fake App Server: what it prints as Codex's state
// changes, later starts and requests reaching it through its socket, a crash that must not block
// the next start, and two starting together leaving one.
#include "companion_harness.h"
#include "fake_codex.h"
#include "process_harness.h"

#include <gtest/gtest.h>

#include <QStandardPaths>

#include <csignal>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;

const QString orvane = ORVANE_EXECUTABLE;

json::object scenario(const char *state)
{
    return {{"version", {{"output", "codex-cli 0.171.0\n"}}}, {"stdio", session({{"t1", state}})}};
}

QProcessEnvironment withRelay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ORVANE_RELAY_URL", "http://127.0.0.1:9");
    return environment;
}

Finished orvaneRun(const QStringList &arguments, std::chrono::milliseconds limit = 5s)
{
    return run(orvane, arguments, withRelay(), limit);
}

TEST(HeadlessInstance, PrintsChangesAndAnswersLaterStartsAndRequests)
{
    FakeCodex codex(scenario("thinking"));
    // With nothing running, a request acts on a model of its own that never starts.
    const Finished alone = orvaneRun({"--status"}, 30s);
    EXPECT_EQ(alone.exitCode, 0) << alone.err.toStdString();
    EXPECT_TRUE(alone.out.contains("Companion: disconnected\n")) << alone.out.toStdString();
    EXPECT_TRUE(alone.out.endsWith("Last error: none\n")) << alone.out.toStdString();

    auto first = std::make_unique<RunningCompanion>(orvane, withRelay());
    for (const QString line : {"Not paired.", "Codex connected.", "Thread \"Task t1\": Thinking\u2026"})
        ASSERT_TRUE(first->waitForLine(line)) << line.toStdString() << "\n" << first->dump();
    // The App Server started next finds the turn finished.
    codex.replace(scenario("finished"));
    const auto children = first->appServerChildren();
    ASSERT_EQ(children.size(), 1u);
    ::kill(static_cast<pid_t>(children.front()), SIGKILL);
    ASSERT_TRUE(first->waitForLine("Thread \"Task t1\": Finished")) << first->dump();
    const auto printed = first->lines().size();

    // Each limit is far above what a correct answer takes, and far below the 10 s a start
    // waits for a companion that holds the lock without answering.
    struct Row {
        QStringList arguments;
        int exitCode;
        QString out;
        QString err;
    };
    const Row rows[]{
        {{"--headless"}, 1, "", "Orvane is already running.\n"},
        {{"--headless", "--unknown"}, 1, "", "Orvane is already running.\n"},
        {{}, 0, "", ""}, // asks the running one to show its window
        {{"--pair", "12345"}, 1, "", "Enter the six digits shown on the glasses.\n"},
        {{"--unpair"}, 0, "Nothing was paired; nothing to remove.\n", ""},
        {{"--version", "--headless"}, 0, "orvane 0.1.0\n", ""},
    };
    for (const Row &row : rows) {
        const Finished finished = orvaneRun(row.arguments);
        EXPECT_EQ(finished.exitCode, row.exitCode) << row.arguments.join(' ').toStdString();
        EXPECT_EQ(finished.out, row.out) << row.arguments.join(' ').toStdString();
        EXPECT_EQ(finished.err, row.err) << row.arguments.join(' ').toStdString();
    }
    // The running companion's own report.
    const Finished status = orvaneRun({"--bogus", "--status"});
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_TRUE(status.out.startsWith("Orvane Companion 0.1.0\nCompanion: connected\n")) << status.out.toStdString();
    EXPECT_TRUE(status.out.contains("\nCodex: codex-cli 0.171.0\n")) << status.out.toStdString();
    const Finished help = orvaneRun({"--help"});
    for (const char *word : {"--headless", "--pair PIN", "--unpair", "--status", "--self-test", "--codex-integration-test",
                             "--version", "ORVANE_RELAY_URL", "ORVANE_CODEX", "ORVANE_CREDENTIAL_STORE"})
        EXPECT_TRUE(help.exitCode == 0 && help.out.contains(word)) << word;
    // The modes that end the process never ask the running companion anything.
    EXPECT_EQ(orvaneRun({"--self-test"}, 60s).out, "Companion self-tests: 5 passed\n");
    const Finished integration = orvaneRun({"--codex-integration-test"}, 60s);
    EXPECT_EQ(integration.exitCode, 0) << integration.err.toStdString();
    EXPECT_TRUE(integration.out.startsWith("Codex integration: connected; version=codex-cli 0.171.0;"));
    // Refreshes that changed nothing (one every 4 s) printed nothing.
    EXPECT_FALSE(waitUntil([&] { return first->lines().size() > printed; }, 4s)) << first->dump();

    // A crash leaves the socket file behind; it must not block the next, plain start.
    ::kill(static_cast<pid_t>(first->pid()), SIGKILL);
    ASSERT_TRUE(first->waitForExit(10s));
    first.reset();
    EXPECT_TRUE(QFile::exists(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + "/orvane/instance.socket"));
    RunningCompanion second(orvane, withRelay(), {});
    ASSERT_TRUE(second.waitForLine("Codex connected.")) << second.errors().toStdString();
    EXPECT_TRUE(orvaneRun({"--status"}).out.startsWith("Orvane Companion 0.1.0\nCompanion: connected\n"));
}

TEST(HeadlessInstance, TwoStartingTogetherLeaveOne)
{
    qputenv("ORVANE_CODEX", "/nonexistent/codex");
    for (int round = 0; round < 3; ++round) {
        RunningCompanion one(orvane, withRelay());
        RunningCompanion two(orvane, withRelay());
        // Exactly one ends, at once and with the message; the other runs on and answers.
        ASSERT_TRUE(waitUntil([&] { return !one.running() || !two.running(); }, 5s)) << "round " << round;
        RunningCompanion &ended = one.running() ? two : one;
        RunningCompanion &survivor = one.running() ? one : two;
        EXPECT_EQ(ended.exitCode(), 1);
        EXPECT_EQ(ended.errors(), "Orvane is already running.\n");
        EXPECT_FALSE(survivor.waitForExit(1s)) << "round " << round;
        EXPECT_TRUE(survivor.waitForLine("Not paired."));
        EXPECT_EQ(orvaneRun({"--status"}).exitCode, 0);
    }
}

} // namespace
} // namespace orvane::test
