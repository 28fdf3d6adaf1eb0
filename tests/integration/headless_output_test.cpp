// What `orvane --headless` prints as Codex's state changes, against the fake App Server: a line
// when Codex connects and whenever the current thread's title or activity changes, and nothing
// while they stay the same.
#include "companion_harness.h"
#include "fake_codex.h"
#include "headless_support.h"

#include <gtest/gtest.h>

#include <csignal>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;

void writeScenario(const FakeCodex &fake, const std::vector<ThreadSpec> &threads)
{
    const json::object scenario{{"log", fake.logPath().toStdString()},
                                {"version", {{"output", "codex-cli 0.171.0\n"}, {"exitCode", 0}}},
                                {"stdio", session(threads)}};
    QFile file(fake.scenarioPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray::fromStdString(json::serialize(scenario)));
}

TEST(HeadlessOutput, TellsTheCurrentThreadAsItChanges)
{
    FakeCodex fake(json::object{});
    writeScenario(fake, {{"t1", "thinking"}});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ORVANE_RELAY_URL"), QStringLiteral("http://127.0.0.1:9"));
    RunningCompanion companion(QStringLiteral(ORVANE_EXECUTABLE), environment);

    for (const QString line : {"Not paired.", "Codex connected.", "Thread \"Task t1\": Thinking\u2026"})
        ASSERT_TRUE(companion.waitForLine(line)) << line.toStdString() << "\n" << companion.lines().join('\n').toStdString();

    // The App Server read at its next start finds the turn finished.
    writeScenario(fake, {{"t1", "finished"}});
    const auto children = companion.appServerChildren();
    ASSERT_EQ(children.size(), 1u);
    ::kill(static_cast<pid_t>(children.front()), SIGKILL);
    ASSERT_TRUE(companion.waitForLine("Thread \"Task t1\": Finished", 20s)) << companion.lines().join('\n').toStdString();

    // Refreshes that change nothing (one every 4 s) print nothing.
    const qsizetype printed = companion.lines().size();
    const bool changed = waitUntil([&] { return companion.lines().size() > printed; }, 5s);
    EXPECT_FALSE(changed) << companion.lines().join('\n').toStdString();
}

} // namespace
} // namespace orvane::test
