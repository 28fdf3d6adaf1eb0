// The installed `orvane --headless` beside the real, pinned Codex CLI and the installed
// orvane-relay, the glasses played by this test: once with the Secret Service, once with the
// private file and no Secret Service at all, where pairing without the choice must fail.
// Second starts and the integration mode beside a running companion are headless_instance_test's.
#include "process_harness.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include <csignal>
#include <functional>

#include <sys/stat.h>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;
namespace json = boost::json;

const QString prefix = ORVANE_INSTALLED_PREFIX;
const QString orvane = prefix + "/bin/orvane";

json::object parse(const QByteArray &bytes)
{
    return json::parse(bytes.toStdString()).as_object();
}

QString text(const json::value &value)
{
    return QString::fromUtf8(value.as_string().data(), qsizetype(value.as_string().size()));
}

// The glasses ask the relay for a PIN.
json::object askForPin(const QUrl &relay)
{
    return parse(httpRequest("POST", QUrl(relay.toString() + "/v1/pairings"), "{}").body);
}

void expectHealthy(const json::object &snapshot)
{
    const auto &companion = snapshot.at("companion");
    EXPECT_EQ(companion.at("connected"), true);
    EXPECT_EQ(companion.at("codexVersion"), "codex-cli 0.171.0");
    EXPECT_EQ(companion.at("authenticationMode"), "unknown");
    EXPECT_EQ(snapshot.at("usage").at("unavailableReason"), "The installed App Server or account did not return rate limits.");
}

// The whole flow against one running companion; `stored` reads the publisher token wherever the
// companion keeps it.
void pairPublishAndUnpair(QProcessEnvironment environment, const std::function<std::optional<std::string>()> &stored)
{
    environment.insert("PATH", ORVANE_TEST_CODEX_DIR ":/usr/bin:/bin"); // Codex found as a user's own would be
    RelayProcess relay(prefix + "/bin/orvane-relay");
    ASSERT_TRUE(relay.baseUrl().isValid());
    environment.insert("ORVANE_RELAY_URL", relay.baseUrl().toString());
    RunningCompanion companion(orvane, environment);
    ASSERT_TRUE(companion.waitForLine("Not paired.")) << companion.errors().toStdString();
    ASSERT_TRUE(companion.waitForLine("Codex connected.", 90s)) << companion.dump();

    const auto glasses = askForPin(relay.baseUrl());
    const Finished pairing = run(orvane, {"--pair", text(glasses.at("pin"))}, environment);
    EXPECT_EQ(pairing.exitCode, 0) << pairing.err.toStdString();
    EXPECT_EQ(pairing.out, "Paired. Your glasses will update in a moment.\nThrough the running companion (pid "
                               + QString::number(companion.pid()) + "), with its relay at " + relay.baseUrl().toString() + ".\n");
    EXPECT_TRUE(companion.waitForLine("Paired."));
    EXPECT_TRUE(companion.waitForLine("Relay connected."));
    const auto channel = parse(httpRequest("GET", QUrl(relay.baseUrl().toString() + "/v1/pairings/" +
                                                       text(glasses.at("pairingId")))).body);
    ASSERT_EQ(channel.at("status"), "completed");
    const QString channelId = text(channel.at("channelId"));
    TestSocket subscriber;
    ASSERT_TRUE(subscriber.authenticate(socketUrl(relay.baseUrl(), channelId), "subscriber",
                                        text(channel.at("subscriberToken"))));

    // The polling loop publishes every 4 s; each snapshot comes well within twice that.
    std::int64_t sequence = 0;
    for (int index = 0; index < 3; ++index) {
        const auto snapshot = nextSnapshot(subscriber, 8s);
        ASSERT_TRUE(snapshot) << "snapshot " << index;
        expectHealthy(*snapshot);
        EXPECT_GT(snapshot->at("sequence").as_int64(), std::exchange(sequence, snapshot->at("sequence").as_int64()));
    }

    const Finished status = run(orvane, {"--status"}, environment, 10s);
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_TRUE(status.out.contains("Companion: connected\nRelay: connected\nCodex: codex-cli 0.171.0\n")) << status.out.toStdString();
    EXPECT_TRUE(status.out.contains("Pairing: " + channelId.left(8) + QChar(0x2026) + "\n")) << status.out.toStdString();

    // A killed App Server is replaced by the next refresh, and publishing goes on.
    const auto before = companion.appServerChildren();
    ASSERT_EQ(before.size(), 1u);
    ::kill(static_cast<pid_t>(before.front()), SIGKILL);
    ASSERT_TRUE(waitUntil([&] {
        const auto after = companion.appServerChildren();
        return after.size() == 1 && after.front() != before.front();
    }, 30s));
    std::optional<json::object> recovered;
    while ((recovered = nextSnapshot(subscriber, 15s)) && recovered->at("companion").at("connected") != true) {
    }
    ASSERT_TRUE(recovered) << "no connected snapshot after the App Server came back";
    expectHealthy(*recovered);

    const auto token = stored();
    ASSERT_TRUE(token);
    const Finished unpairing = run(orvane, {"--unpair"}, environment);
    const QDateTime unpaired = QDateTime::currentDateTimeUtc();
    EXPECT_EQ(unpairing.exitCode, 0);
    EXPECT_EQ(unpairing.out, "Pairing removed and relay data deleted.\n");
    EXPECT_TRUE(companion.waitForLine("Not paired."));
    EXPECT_FALSE(stored());
    // Frames already on their way may still land, none made after unpairing; longer than one poll.
    while (const auto late = nextSnapshot(subscriber, 6s))
        EXPECT_LT(QDateTime::fromString(text(late->at("generatedAt")), Qt::ISODateWithMs), unpaired);
    TestSocket publisher;
    EXPECT_FALSE(publisher.authenticate(socketUrl(relay.baseUrl(), channelId), "publisher", QString::fromStdString(*token)))
        << "the publisher token still works after unpairing";

    // One line each, time first; no token and no sync time.
    for (const QString &line : companion.lines()) {
        EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d \\S").match(line).hasMatch()) << line.toStdString();
        EXPECT_FALSE(line.contains(QString::fromStdString(*token)));
        EXPECT_FALSE(line.contains("sync", Qt::CaseInsensitive)) << line.toStdString();
    }
}

std::optional<std::string> tokenIn(const json::object &credentials)
{
    const auto *token = credentials.if_contains("publisherToken");
    return token ? std::optional(std::string(token->as_string())) : std::nullopt;
}

TEST(HeadlessFlow, PairsPublishesRecoversAndUnpairsWithTheSecretService)
{
    pairPublishAndUnpair(QProcessEnvironment::systemEnvironment(), [] {
        const Finished lookup = run("secret-tool", {"lookup", "service", "dev.orvane.companion", "account", "relay-publisher"},
                                    QProcessEnvironment::systemEnvironment(), 20s);
        return lookup.out.isEmpty() ? std::nullopt : tokenIn(parse(lookup.out.toUtf8()));
    });
}

TEST(HeadlessFlow, KeepsThePairingInThePrivateFileWithoutAnySecretService)
{
    BareSessionBus bus;
    ASSERT_FALSE(bus.address().isEmpty());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    {
        // Without the choice, pairing fails, says why and what to do, and keeps nothing.
        RelayProcess relay(prefix + "/bin/orvane-relay");
        QProcessEnvironment unchosen = environment;
        unchosen.insert("ORVANE_RELAY_URL", relay.baseUrl().toString());
        const Finished refused = run(orvane, {"--pair", text(askForPin(relay.baseUrl()).at("pin"))}, unchosen);
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_TRUE(refused.out.isEmpty());
        EXPECT_EQ(refused.err, "Unable to keep the pairing in the system's credential store: no Secret Service is running "
                               "(for example gnome-keyring or KeePassXC). Start a Secret Service such as gnome-keyring, or set "
                               "ORVANE_CREDENTIAL_STORE=file to keep the pairing in a private file.\n");
    }
    environment.insert("ORVANE_CREDENTIAL_STORE", "file");
    const QString file = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/orvane/credentials.json";
    pairPublishAndUnpair(environment, [&file]() -> std::optional<std::string> {
        QFile credentials(file);
        if (!credentials.open(QIODevice::ReadOnly))
            return std::nullopt;
        struct stat info {};
        ::stat(QFile::encodeName(file).constData(), &info);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        return tokenIn(parse(text(parse(credentials.readAll()).at("relay-publisher")).toUtf8()));
    });
}

TEST(HeadlessFlow, InstallsTheDesktopEntryIconAndADisabledUserUnit)
{
    for (const char *path : {"/bin/orvane", "/bin/orvane-relay", "/share/applications/dev.orvane.companion.desktop",
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
