// The glasses page as a user meets it: Chromium opens it from orvane-relay, the PIN it shows
// pairs a headless companion playing the fake App Server, the page follows the thread, stops
// it, and says so when the companion goes away. Screenshots land in the build tree.
#include "companion_harness.h"
#include "fake_codex.h"
#include "process_harness.h"

#include <gtest/gtest.h>

#include <QDir>

#include <csignal>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;

json::object scenario(const char *state)
{
    return {{"version", {{"output", "codex-cli 0.171.0\n"}}},
            {"stdio", session({{"t1", state, 1796590100}, {"t2", "finished", 1796590000}})}};
}

// The node script driving the browser through its story: "<word> <details>" lines out, a line in
// wherever the test has acted.
class BrowserDriver {
public:
    BrowserDriver(const QUrl &relay, const QString &screenshots)
    {
        process_.start("node", {ORVANE_GLASSES_PAGE_DRIVER, ORVANE_TEST_PLAYWRIGHT_DIR, relay.toString(), screenshots});
    }
    // Chromium is left to close itself: killed, it would still be writing in the session's folders.
    ~BrowserDriver()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(20'000))
            process_.kill();
        process_.waitForFinished();
    }
    // Lets the story go on past the step that waits for the test.
    void acted() { process_.write("\n"); }
    // The details of the next line, which must say `word`; any other line, or silence, gives none.
    std::optional<QString> expect(const QString &word, std::chrono::milliseconds limit = 60s)
    {
        waitUntil([&] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; }, limit);
        const QString line = QString::fromUtf8(process_.readLine()).chopped(1);
        said_ += line + '\n';
        return line.startsWith(word + ' ') ? std::optional(line.mid(word.size() + 1)) : std::nullopt;
    }
    std::string dump() { return (said_ + process_.readAllStandardError()).toStdString(); }

private:
    QProcess process_;
    QString said_;
};

TEST(GlassesPage, PairsFollowsAThreadStopsItAndNoticesTheCompanionLeaving)
{
    FakeCodex codex(scenario("finished"));
    RelayProcess relay(ORVANE_RELAY_EXECUTABLE);
    ASSERT_FALSE(relay.baseUrl().isEmpty());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ORVANE_RELAY_URL", relay.baseUrl().toString());
    // Chromium starts while the companion does.
    const QString screenshots = QDir(ORVANE_SCREENSHOT_DIR).absolutePath();
    QDir().mkpath(screenshots);
    BrowserDriver browser(relay.baseUrl(), screenshots);
    auto companion = std::make_unique<RunningCompanion>(ORVANE_EXECUTABLE, environment);
    ASSERT_TRUE(companion->waitForLine("2 threads; current: \"Task t1\", Finished")) << companion->dump();
    const auto csp = browser.expect("csp");
    ASSERT_TRUE(csp) << browser.dump();
    EXPECT_TRUE(csp->startsWith("default-src 'none'; script-src 'self';")) << csp->toStdString();
    const auto pin = browser.expect("pin");
    ASSERT_TRUE(pin) << browser.dump();
    EXPECT_EQ(browser.expect("pair-line"), "ORVANE_RELAY_URL=" + relay.baseUrl().toString() + " orvane --pair " + *pin);

    const Finished paired = run(ORVANE_EXECUTABLE, {"--pair", *pin}, environment, 30s);
    ASSERT_EQ(paired.exitCode, 0) << paired.err.toStdString();
    browser.acted();
    ASSERT_EQ(browser.expect("state"), "Finished") << browser.dump();

    // Codex starts a turn: the next App Server the companion starts reports it.
    codex.replace(scenario("thinking"));
    for (const qint64 child : companion->appServerChildren())
        ::kill(static_cast<pid_t>(child), SIGKILL);
    ASSERT_TRUE(companion->waitForLine("Thread \"Task t1\": Thinking\u2026", 30s)) << companion->dump();
    browser.acted();
    ASSERT_EQ(browser.expect("state"), "Thinking\u2026") << browser.dump();
    const auto result = browser.expect("result");
    ASSERT_TRUE(result) << browser.dump();
    EXPECT_TRUE(result->startsWith("stop_thread t1: succeeded: Codex was asked to stop. (sequence ")) << result->toStdString();
    EXPECT_EQ(requests(codex.received(), "turn/interrupt").size(), 1u);
    EXPECT_TRUE(companion->waitForLine("Glasses asked to stop \"Task t1\": succeeded, Codex was asked to stop.")) << companion->dump();

    companion.reset();
    browser.acted();
    for (int shown = 0; shown < 2; ++shown)
        ASSERT_TRUE(browser.expect("banner")) << "before and after a reload\n" << browser.dump();
    EXPECT_EQ(browser.expect("forgot"), "{}") << browser.dump();
    EXPECT_EQ(browser.expect("problems"), "[]") << browser.dump();
}

} // namespace
} // namespace orvane::test
