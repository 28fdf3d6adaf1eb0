// The installed `orvane --headless`, one per user, against the fake App Server and a relay of
// the test's own, the glasses played by this test: what it prints, later starts and requests
// reaching it through its socket, pairing, sharing choices and unpairing from the command line,
// a crash that must not block the next start, and two starting together leaving one. The real
// Codex CLI is codex_integration_mode_test's; a replaced App Server, glasses_page_test's.
#include "companion/settings_store.h"
#include "relay/keychain_store.h"
#include "companion_harness.h"
#include "fake_codex.h"
#include "process_harness.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

#include <csignal>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;

const QString prefix = ORVANE_INSTALLED_PREFIX;
const QString orvane = prefix + "/bin/orvane";

json::object parse(const QByteArray &bytes)
{
    return json::parse(bytes.toStdString()).as_object();
}

QString text(const json::value &value)
{
    return QString::fromStdString(std::string(value.as_string()));
}

const json::value *transcriptOf(const json::object &snapshot)
{
    return snapshot.at("threads").at(0).as_object().if_contains("transcript");
}

TEST(HeadlessInstance, PrintsChangesAnswersLaterStartsAndIsPairedSharedAndUnpairedFromTheCommandLine)
{
    FakeCodex codex({{"version", {{"output", "codex-cli 0.171.0\n"}}}, {"stdio", session({{"t1", "thinking"}})}});
    LocalRelay relay;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ORVANE_RELAY_URL", relay.baseUrl().toString());
    const auto orvaneRun = [&](const QStringList &arguments, std::chrono::milliseconds limit = 10s) {
        return run(orvane, arguments, environment, limit);
    };

    // With nothing running, a request acts on a model of its own: what would leave before pairing.
    const Finished preview = orvaneRun({"--snapshot"}, 30s);
    EXPECT_EQ(preview.exitCode, 0) << preview.err.toStdString();
    const json::object previewed = parse(preview.out.toUtf8());
    EXPECT_EQ(previewed.at("threads").at(0).at("title"), "Task t1");

    auto companion = std::make_unique<RunningCompanion>(orvane, environment);
    for (const QString line : {"Not paired.", "Codex connected.", "Codex: own App Server.", "1 thread; current: \"Task t1\", Thinking\u2026"})
        ASSERT_TRUE(companion->waitForLine(line)) << line.toStdString() << "\n" << companion->dump();
    const QString pid = QString::number(companion->pid());
    const json::value requests = fixture("headless-requests.json");

    // The glasses ask the relay for a PIN; a wrong one is told with its cause, then the right one pairs.
    const auto glasses = parse(httpRequest("POST", relay.url("/v1/pairings"), "{}").body);
    const QString through = "Through the running companion (pid " + pid + "), with its relay at " + relay.baseUrl().toString() + ".\n";
    const Finished wrong = orvaneRun({"--pair=000000"}, 30s);
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_EQ(wrong.err, "This PIN is unknown or has expired.\n" + through);
    const Finished pairing = orvaneRun({"--pair", text(glasses.at("pin"))}, 30s);
    EXPECT_EQ(pairing.exitCode, 0) << pairing.err.toStdString();
    EXPECT_EQ(pairing.out, "Paired. Your glasses will update in a moment.\n" + through);
    EXPECT_TRUE(companion->waitForLine("Paired.")) << companion->dump();
    EXPECT_TRUE(companion->waitForLine("Relay connected.")) << companion->dump();
    const auto channel = parse(httpRequest("GET", relay.url("/v1/pairings/" + text(glasses.at("pairingId")))).body);
    ASSERT_EQ(channel.at("status"), "completed");
    const QString channelId = text(channel.at("channelId"));
    const auto stored = [] {
        const auto bytes = KeychainStore::load(CompanionModel::credentialAccount);
        return bytes ? decodeText<PairingCredentials>(*bytes) : std::nullopt;
    };
    const auto credentials = stored();
    ASSERT_TRUE(credentials);
    EXPECT_EQ(credentials->channelId, channelId.toStdString());
    TestSocket subscriber;
    ASSERT_TRUE(subscriber.authenticate(socketUrl(relay.baseUrl(), channelId), "subscriber", text(channel.at("subscriberToken"))));
    std::optional<json::object> snapshot;
    while ((snapshot = nextSnapshot(subscriber)) && snapshot->at("companion").at("connected") != true) {
    }
    ASSERT_TRUE(snapshot && transcriptOf(*snapshot));
    const Finished status = orvaneRun({"--bogus", "--status"});
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_EQ(status.err, "orvane: ignoring unknown option --bogus; see orvane --help\n");
    EXPECT_TRUE(QRegularExpression("^Orvane is running \\(pid " + pid + ", since \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC\\), "
                                   "with the relay at " + QRegularExpression::escape(relay.baseUrl().toString())
                                   + ".\nOrvane Companion 0.1.0\nCompanion: connected\nRelay: connected\nCodex: codex-cli 0.171.0\n")
                    .match(status.out).hasMatch()) << status.out.toStdString();
    EXPECT_TRUE(status.out.contains("Pairing: " + channelId.left(8) + QChar(0x2026) + "\n")) << status.out.toStdString();

    // Later starts and requests, sharing choices among them: changed through the running
    // companion, kept, and followed by the glasses.
    const auto arguments = [](const json::value &list) {
        QStringList all;
        for (const auto &argument : list.as_array())
            all << text(argument);
        return all;
    };
    for (const auto &row : requests.at("requests").as_array()) {
        const Finished finished = orvaneRun(arguments(row.at("arguments")), 5s);
        const auto label = arguments(row.at("arguments")).join(' ').toStdString();
        EXPECT_EQ(finished.exitCode, row.at("exitCode").as_int64()) << label;
        EXPECT_EQ(finished.out, text(row.at("out")).replace("{pid}", pid)) << label;
        EXPECT_EQ(finished.err, text(row.at("err"))) << label;
    }
    // A relay address without a scheme is refused in every kind of mode, the running companion untouched.
    QProcessEnvironment schemeless = environment;
    schemeless.insert("ORVANE_RELAY_URL", "127.0.0.1:8787");
    for (const auto &list : requests.at("schemelessRefusedBy").as_array()) {
        const Finished refused = run(orvane, arguments(list), schemeless, 5s);
        EXPECT_EQ(refused.exitCode, 1) << list;
        EXPECT_EQ(refused.err, "ORVANE_RELAY_URL \"127.0.0.1:8787\" is not an absolute URL with a scheme and a host, such as "
                               "http://127.0.0.1:8787. Set it to the relay's base URL, or unset it to use "
                               "http://127.0.0.1:8787.\n") << list;
    }
    ASSERT_TRUE(SettingsStore::load());
    EXPECT_EQ(SettingsStore::load()->transcript, TranscriptLevel::none);
    while ((snapshot = nextSnapshot(subscriber)) && transcriptOf(*snapshot)) {
    }
    ASSERT_TRUE(snapshot) << "no snapshot without the transcript";
    const json::object shared = parse(orvaneRun({"--snapshot"}).out.toUtf8());
    EXPECT_GT(shared.at("sequence").as_int64(), snapshot->at("sequence").as_int64());
    EXPECT_FALSE(transcriptOf(shared));

    // Unpairing deletes the channel: the relay ends the glasses' socket, and the publisher
    // token opens nothing any more. Frames already on their way may land, none made after.
    const Finished unpairing = orvaneRun({"--unpair"}, 30s);
    const QDateTime unpaired = QDateTime::currentDateTimeUtc();
    EXPECT_EQ(unpairing.exitCode, 0);
    EXPECT_EQ(unpairing.out, "Pairing removed and relay data deleted.\n");
    EXPECT_TRUE(companion->waitForLine("Not paired.")) << companion->dump();
    EXPECT_FALSE(stored());
    EXPECT_TRUE(subscriber.waitClosed());
    while (const auto late = nextSnapshot(subscriber, 0ms))
        EXPECT_LT(QDateTime::fromString(text(late->at("generatedAt")), Qt::ISODateWithMs), unpaired);
    EXPECT_FALSE(TestSocket().authenticate(socketUrl(relay.baseUrl(), channelId), "publisher",
                                           QString::fromStdString(credentials->publisherToken)));

    // One line each, time first, never the token.
    for (const QString &line : companion->lines()) {
        EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d \\S").match(line).hasMatch()) << line.toStdString();
        EXPECT_FALSE(line.contains(QString::fromStdString(credentials->publisherToken)));
    }

    // A crash leaves the socket file behind; it must not block the next starts, of which
    // exactly one ends, at once and with the message, and the other runs on and answers.
    ::kill(static_cast<pid_t>(companion->pid()), SIGKILL);
    ASSERT_TRUE(companion->waitForExit(10s));
    companion.reset();
    RunningCompanion one(orvane, environment);
    RunningCompanion two(orvane, environment);
    ASSERT_TRUE(waitUntil([&] { return !one.running() || !two.running(); }, 5s));
    RunningCompanion &ended = one.running() ? two : one;
    RunningCompanion &survivor = one.running() ? one : two;
    EXPECT_EQ(ended.exitCode(), 1);
    EXPECT_EQ(ended.errors(), "Orvane is already running.\n");
    ASSERT_TRUE(survivor.waitForLine("Codex connected.")) << survivor.errors().toStdString();
    const QString answered = orvaneRun({"--status"}).out;
    EXPECT_TRUE(answered.startsWith("Orvane is running (pid " + QString::number(survivor.pid()) + ", since ")) << answered.toStdString();
}

TEST(HeadlessInstance, InstallsTheWindowProgramDesktopEntryIconAndADisabledUserUnit)
{
    for (const char *path : {"/bin/orvane", "/bin/orvane-relay", "/libexec/orvane/orvane-window",
                             "/share/applications/dev.orvane.companion.desktop",
                             "/share/icons/hicolor/scalable/apps/dev.orvane.companion.svg"})
        EXPECT_TRUE(QFile::exists(prefix + path)) << path;
    QFile unit(prefix + "/share/systemd/user/orvane.service");
    ASSERT_TRUE(unit.open(QIODevice::ReadOnly));
    const QByteArray text = unit.readAll();
    EXPECT_TRUE(text.contains("\nExecStart=" ORVANE_CONFIGURED_BINDIR "/orvane --headless\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nEnvironment=ORVANE_CREDENTIAL_STORE=file\n"));
    EXPECT_FALSE(QFile::exists(prefix + "/share/systemd/user/default.target.wants")) << "enabled on install";
}

} // namespace
} // namespace orvane::test
