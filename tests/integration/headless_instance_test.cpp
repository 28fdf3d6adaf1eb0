// One `orvane --headless` per user against the fake App Server: what it prints as Codex's state
// changes, later starts and requests reaching it through its socket, a crash that must not block
// the next start, and two starting together leaving one.
#include "companion/relay_base_url.h"
#include "companion/settings_store.h"
#include "relay/file_credential_store.h"
#include "companion_harness.h"
#include "fake_codex.h"
#include "process_harness.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
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

// The App Server the companion starts, and, once the daemon runs, the same threads through it.
json::object withDaemon(bool runs)
{
    return {{"version", {{"output", "codex-cli 0.171.0\n"}}},
            {"daemon", {{"exitCode", runs ? 0 : 1}}},
            {"stdio", session({{"t1", "thinking"}})},
            {"proxy", session({{"t1", "thinking"}})}};
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
    EXPECT_TRUE(alone.out.startsWith("Orvane is not running; this report is of a fresh start, with the relay at "
                                     "http://127.0.0.1:9.\nOrvane Companion 0.1.0\nCompanion: disconnected\n")) << alone.out.toStdString();
    EXPECT_TRUE(alone.out.endsWith("Last error: none\n")) << alone.out.toStdString();
    // What would leave before pairing: after one refresh of its own, the thread and its transcript.
    const Finished preview = orvaneRun({"--snapshot"}, 30s);
    EXPECT_EQ(preview.exitCode, 0) << preview.err.toStdString();
    EXPECT_TRUE(preview.out.startsWith("{\n  \"schemaVersion\": 1,\n  \"generatedAt\": \"")) << preview.out.toStdString();
    const json::object previewed = json::parse(preview.out.toStdString()).as_object();
    EXPECT_EQ(previewed.at("sequence"), 1);
    EXPECT_EQ(previewed.at("companion").at("connected"), true);
    EXPECT_EQ(previewed.at("threads").at(0).at("title"), "Task t1");
    EXPECT_EQ(previewed.at("threads").at(0).at("transcriptAvailability"), "messages");

    auto first = std::make_unique<RunningCompanion>(orvane, withRelay());
    for (const QString line : {"Not paired.", "Codex connected.", "Codex: own App Server.", "1 thread; current: \"Task t1\", Thinking\u2026"})
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
    const QString pid = QString::number(first->pid());
    const QString unknown = "orvane: ignoring unknown option %1; see orvane --help\n";
    const Row rows[]{
        {{"--headless"}, 1, "", "Orvane is already running.\n"},
        {{"--headless", "--unknown"}, 1, "", unknown.arg("--unknown") + "Orvane is already running.\n"},
        {{}, 0, "Orvane is already running headless (pid " + pid + "). See orvane --status.\n", ""},
        {{"--pair", "12345"}, 1, "", "Enter the six digits shown on the glasses.\n"},
        {{"--pair=1234"}, 1, "", "Enter the six digits shown on the glasses.\n"},
        {{"--unpair"}, 0, "Nothing was paired; nothing to remove.\n", ""},
        {{"--version", "--headless"}, 0, "orvane 0.1.0\n", ""},
        {{"-V"}, 0, "orvane 0.1.0\n", ""},
        {{"-v", "-x\x1b[2J", "-V"}, 0, "orvane 0.1.0\n", unknown.arg("-v") + unknown.arg("-x?[2J")},
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
    EXPECT_EQ(status.err, unknown.arg("--bogus"));
    EXPECT_TRUE(QRegularExpression("^Orvane is running \\(pid " + pid + ", since \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC\\), "
                                   "with the relay at http://127.0.0.1:9.\nOrvane Companion 0.1.0\nCompanion: connected\n")
                    .match(status.out).hasMatch()) << status.out.toStdString();
    EXPECT_TRUE(status.out.contains("\nCodex: codex-cli 0.171.0\n")) << status.out.toStdString();
    const Finished help = orvaneRun({"-h"});
    for (const char *word : {"--headless", "--pair PIN", "--pair=PIN", "--unpair", "--status", "--sharing NAME=VALUE", "--snapshot",
                             "--self-test", "--codex-integration-test", "-V, --version", "-h, --help", "threadTitles",
                             "projectNickname", "activityStatus", "elapsedTime", "finalSummary", "modelAndReasoning", "gitSummary",
                             "checkStatus", "usageMetrics", "nativeNotifications", "startAtLogin", "none, messages, activity or full",
                             "ORVANE_RELAY_URL", "ORVANE_CODEX", "ORVANE_CREDENTIAL_STORE"})
        EXPECT_TRUE(help.exitCode == 0 && help.out.contains(word)) << word;
    // A relay address without a scheme is refused in every mode, the running companion untouched.
    QProcessEnvironment schemeless = withRelay();
    schemeless.insert("ORVANE_RELAY_URL", "127.0.0.1:8787");
    for (const QStringList &arguments : {QStringList{}, {"--headless"}, {"--status"}, {"--pair", "123456"}, {"--unpair"},
                                         {"--sharing"}, {"--snapshot"}, {"--self-test"}, {"--codex-integration-test"}}) {
        const Finished refused = run(orvane, arguments, schemeless, 5s);
        EXPECT_EQ(refused.exitCode, 1) << arguments.join(' ').toStdString();
        EXPECT_EQ(refused.err, "ORVANE_RELAY_URL \"127.0.0.1:8787\" is not an absolute URL with a scheme and a host, such as "
                               "http://127.0.0.1:8787. Set it to the relay's base URL, or unset it to use "
                                   + RelayBaseUrl::fallback().toString() + ".\n")
            << arguments.join(' ').toStdString();
    }
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
    const QString answered = orvaneRun({"--status"}).out;
    EXPECT_TRUE(answered.startsWith("Orvane is running (pid " + QString::number(second.pid()) + ", since ")) << answered.toStdString();
    EXPECT_TRUE(answered.contains("\nOrvane Companion 0.1.0\nCompanion: connected\n")) << answered.toStdString();
}

// Paired glasses on a relay of the test's own: pairing mistakes and sharing choices through the
// running companion, the preview of what leaves, a stop from the glasses, a move to the daemon
// and a relay drop, each told on its own line.
TEST(HeadlessInstance, TellsWhatTheGlassesRelayAndCodexDoAndTakesSharingChoices)
{
    FakeCodex codex(withDaemon(false));
    LocalRelay relay(PinBook::Limits{std::chrono::seconds(300), 1, std::chrono::seconds(60)});
    relay.start();
    const auto pairing = relay.pair();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ORVANE_RELAY_URL", relay.baseUrl().toString());
    environment.insert("ORVANE_CREDENTIAL_STORE", "file");
    FileCredentialStore::save(encode(pairing.credentials), CompanionModel::credentialAccount);
    const std::shared_ptr<void> forget(nullptr, [](void *) {
        FileCredentialStore::remove(CompanionModel::credentialAccount);
        SettingsStore::remove();
    });

    // With nothing running, a relay nobody listens on is named, with what to do.
    QProcessEnvironment nowhere = environment;
    nowhere.insert("ORVANE_RELAY_URL", "http://127.0.0.1:9");
    const Finished unreachable = run(orvane, {"--pair", "123456"}, nowhere, 30s);
    EXPECT_EQ(unreachable.exitCode, 1);
    EXPECT_EQ(unreachable.err, "Could not reach the relay at http://127.0.0.1:9: connection refused. Is orvane-relay running? "
                               "make run starts one.\n");

    RunningCompanion companion(orvane, environment);
    const auto told = [&companion](const QString &pattern, std::chrono::milliseconds limit = 20s, int times = 1) {
        const QRegularExpression expression("^\\d\\d:\\d\\d:\\d\\d " + pattern + "$");
        return waitUntil([&] { return companion.lines().filter(expression).size() >= times; }, limit);
    };
    const auto literally = [](const QString &text) { return QRegularExpression::escape(text); };
    for (const QString line : {"Paired.", "Relay connected.", "Codex: own App Server.", "1 thread; current: \"Task t1\", Thinking\u2026"})
        ASSERT_TRUE(told(literally(line))) << line.toStdString() << "\n" << companion.dump();
    TestSocket glasses;
    ASSERT_TRUE(glasses.authenticate(relay.socketUrl(pairing), "subscriber", pairing.subscriberToken));
    std::optional<json::object> snapshot;
    while ((snapshot = nextSnapshot(glasses)) && snapshot->at("companion").at("connected") != true) {
    }
    ASSERT_TRUE(snapshot);
    const auto transcriptOf = [](const json::object &shown) { return shown.at("threads").at(0).as_object().if_contains("transcript"); };
    ASSERT_TRUE(transcriptOf(*snapshot));

    // Pairing mistakes are told with their cause and the relay the running companion used.
    const QString through = "\nThrough the running companion (pid " + QString::number(companion.pid()) + "), with its relay at "
                            + relay.baseUrl().toString() + ".\n";
    for (const auto &[pin, cause] : {std::pair("--pair=000000", "This PIN is unknown or has expired."),
                                     std::pair("--pair=000001", "Too many wrong PINs. Wait a minute and try again.")}) {
        const Finished refused = run(orvane, {pin}, environment, 30s);
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_EQ(refused.err, cause + through);
    }

    // Sharing choices change through the running companion, are kept, and the glasses follow.
    const Finished wrong = run(orvane, {"--sharing", "transcript=some"}, environment, 10s);
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_EQ(wrong.err, "transcript cannot be \"some\"; choose none, messages, activity or full.\n");
    const Finished changed = run(orvane, {"--sharing", "transcript=none", "gitSummary=off"}, environment, 10s);
    EXPECT_EQ(changed.exitCode, 0) << changed.err.toStdString();
    EXPECT_EQ(changed.out, "threadTitles=on\nprojectNickname=on\nactivityStatus=on\nelapsedTime=on\nfinalSummary=on\n"
                           "modelAndReasoning=on\ngitSummary=off\ncheckStatus=on\ntranscript=none\nusageMetrics=on\n"
                           "nativeNotifications=off\nstartAtLogin=off\n");
    EXPECT_EQ(run(orvane, {"--sharing"}, environment, 10s).out, changed.out);
    ASSERT_TRUE(SettingsStore::load());
    EXPECT_EQ(SettingsStore::load()->transcript, TranscriptLevel::none);
    while ((snapshot = nextSnapshot(glasses)) && transcriptOf(*snapshot)) {
    }
    ASSERT_TRUE(snapshot) << "no snapshot without the transcript";
    const Finished preview = run(orvane, {"--snapshot"}, environment, 10s);
    EXPECT_EQ(preview.exitCode, 0);
    const json::object previewed = json::parse(preview.out.toStdString()).as_object();
    EXPECT_GT(previewed.at("sequence").as_int64(), snapshot->at("sequence").as_int64());
    EXPECT_FALSE(transcriptOf(previewed));

    // A stop from the glasses, and its result.
    auto stop = command("stop_thread");
    stop["threadId"] = "t1";
    glasses.send(QByteArray::fromStdString(json::serialize(json::object{{"type", "command"}, {"command", stop}})));
    EXPECT_TRUE(told(literally("Glasses asked to stop \"Task t1\": succeeded, Codex was asked to stop."))) << companion.dump();

    // The daemon appears; the companion moves to it within its recheck (25 s) and a probe.
    codex.replace(withDaemon(true));
    EXPECT_TRUE(told(literally("Codex: through the managed daemon."), 60s)) << companion.dump();

    // The relay goes away: each try is told with its reason and wait, then the return.
    relay.stop();
    EXPECT_TRUE(told("Relay not connected: .+\\. Next try in \\d+ s\\.")) << companion.dump();
    EXPECT_TRUE(told(literally("Relay not connected: Could not reach the relay at " + relay.baseUrl().toString()
                               + ": connection refused. Is orvane-relay running? make run starts one.") + " Next try in \\d+ s\\.", 30s))
        << companion.dump();
    relay.start();
    EXPECT_TRUE(told(literally("Relay connected."), 60s, 2)) << companion.dump();
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
