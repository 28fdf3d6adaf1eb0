// The installed `orvane --headless` beside the real, pinned Codex CLI and the installed
// orvane-relay, the glasses played by this test: pairing from the command line, snapshots
// every few seconds, an App Server child that dies and comes back, unpairing that stops the
// snapshots and revokes the channel. Once with the Secret Service, once with the private file
// and no Secret Service at all, and once with neither, where pairing must fail and say why.
#include "headless_support.h"
#include "relay_test_support.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>

#include <csignal>
#include <functional>
#include <optional>

#include <sys/stat.h>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;

const QString prefix = QStringLiteral(ORVANE_INSTALLED_PREFIX);
const QString orvane = prefix + QStringLiteral("/bin/orvane");
const QString relayProgram = prefix + QStringLiteral("/bin/orvane-relay");
const QString storeHint =
    QStringLiteral("Start a Secret Service such as gnome-keyring, or set ORVANE_CREDENTIAL_STORE=file to keep the pairing in a private file.");

QJsonObject json(const QByteArray &bytes)
{
    return QJsonDocument::fromJson(bytes).object();
}

// Codex found on PATH, as a user's own would be.
QProcessEnvironment companionEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"), QStringLiteral(ORVANE_TEST_CODEX_DIR ":/usr/bin:/bin"));
    return environment;
}

// What the glasses do: ask the relay for a PIN, and once the companion used it, take the
// channel and the subscriber token.
struct Glasses {
    QString pin;
    QString pairingId;
};

Glasses askForPin(const QUrl &relay)
{
    const HttpAnswer answer = httpRequest("POST", QUrl(relay.toString() + "/v1/pairings"), "{}");
    const QJsonObject body = json(answer.body);
    return {body.value("pin").toString(), body.value("pairingId").toString()};
}

// The next snapshot on the subscriber socket, passing over anything else.
std::optional<QJsonObject> nextSnapshot(TestSocket &subscriber, std::chrono::milliseconds limit)
{
    const QDateTime deadline = QDateTime::currentDateTimeUtc().addMSecs(limit.count());
    while (QDateTime::currentDateTimeUtc() < deadline) {
        const auto message = subscriber.next(std::chrono::milliseconds(QDateTime::currentDateTimeUtc().msecsTo(deadline)));
        if (!message)
            break;
        const QJsonObject frame = json(*message);
        if (frame.value("type") == "snapshot")
            return frame.value("snapshot").toObject();
    }
    return std::nullopt;
}

void expectHealthy(const QJsonObject &snapshot)
{
    const QJsonObject companion = snapshot.value("companion").toObject();
    EXPECT_TRUE(companion.value("connected").toBool());
    EXPECT_EQ(companion.value("codexVersion").toString().toStdString(), "codex-cli 0.171.0");
    EXPECT_EQ(companion.value("authenticationMode").toString().toStdString(), "unknown");
    EXPECT_EQ(snapshot.value("usage").toObject().value("unavailableReason").toString().toStdString(),
              "The installed App Server or account did not return rate limits.");
}

// The whole flow against one running companion. `stored` reads the publisher token wherever
// the companion keeps it.
void pairPublishAndUnpair(const QProcessEnvironment &base, const std::function<std::optional<QString>()> &stored)
{
    RelayProcess relay(relayProgram);
    ASSERT_TRUE(relay.baseUrl().isValid());
    QProcessEnvironment environment = base;
    environment.insert(QStringLiteral("ORVANE_RELAY_URL"), relay.baseUrl().toString());
    RunningCompanion companion(orvane, environment);
    ASSERT_TRUE(companion.waitForLine("Not paired.")) << companion.errors().toStdString();
    ASSERT_TRUE(companion.waitForLine("Codex connected.", 90s)) << companion.lines().join('\n').toStdString();

    const Finished second = run(orvane, {"--headless"}, environment, 5s);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.err, "Orvane is already running.\n");

    const Glasses glasses = askForPin(relay.baseUrl());
    ASSERT_EQ(glasses.pin.size(), 6);
    const Finished pairing = run(orvane, {"--pair", glasses.pin}, environment);
    EXPECT_EQ(pairing.exitCode, 0) << pairing.err.toStdString();
    EXPECT_EQ(pairing.out, "Paired. Your glasses will update in a moment.\n");
    EXPECT_TRUE(companion.waitForLine("Paired."));
    EXPECT_TRUE(companion.waitForLine("Relay connected."));

    const QJsonObject channel = json(httpRequest("GET", QUrl(relay.baseUrl().toString() + "/v1/pairings/" + glasses.pairingId)).body);
    ASSERT_EQ(channel.value("status").toString(), "completed");
    const QString channelId = channel.value("channelId").toString();
    TestSocket subscriber;
    ASSERT_TRUE(subscriber.authenticate(socketUrl(relay.baseUrl(), channelId), "subscriber",
                                        channel.value("subscriberToken").toString()));

    // The polling loop publishes every 4 s; each snapshot comes well within twice that.
    qint64 sequence = 0;
    for (int index = 0; index < 3; ++index) {
        const auto snapshot = nextSnapshot(subscriber, 8s);
        ASSERT_TRUE(snapshot) << "snapshot " << index;
        expectHealthy(*snapshot);
        EXPECT_GT(snapshot->value("sequence").toInteger(), sequence);
        sequence = snapshot->value("sequence").toInteger();
    }

    const Finished status = run(orvane, {"--status"}, environment, 10s);
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_TRUE(status.out.contains("Companion: connected\nRelay: connected\nCodex: codex-cli 0.171.0\n")) << status.out.toStdString();
    EXPECT_TRUE(status.out.contains("Pairing: " + channelId.left(8) + QChar(0x2026) + "\n")) << status.out.toStdString();

    // The integration mode runs beside the companion, with a client of its own.
    const Finished integration = run(orvane, {"--codex-integration-test"}, environment);
    EXPECT_EQ(integration.exitCode, 0) << integration.err.toStdString();
    EXPECT_TRUE(integration.out.startsWith("Codex integration: connected; version=codex-cli 0.171.0; listed="))
        << integration.out.toStdString();

    // A killed App Server is replaced by the next refresh, and publishing goes on.
    const std::vector<qint64> before = companion.appServerChildren();
    ASSERT_EQ(before.size(), 1u);
    ::kill(static_cast<pid_t>(before.front()), SIGKILL);
    std::vector<qint64> after;
    ASSERT_TRUE(waitUntil(
        [&] {
            after = companion.appServerChildren();
            return after.size() == 1 && after.front() != before.front();
        },
        30s));
    std::optional<QJsonObject> recovered;
    while ((recovered = nextSnapshot(subscriber, 15s)) && !recovered->value("companion").toObject().value("connected").toBool()) {
    }
    ASSERT_TRUE(recovered) << "no connected snapshot after the App Server came back";
    expectHealthy(*recovered);

    const std::optional<QString> token = stored();
    ASSERT_TRUE(token);
    const Finished unpairing = run(orvane, {"--unpair"}, environment);
    const QDateTime unpaired = QDateTime::currentDateTimeUtc();
    EXPECT_EQ(unpairing.exitCode, 0);
    EXPECT_EQ(unpairing.out, "Pairing removed and relay data deleted.\n");
    EXPECT_TRUE(companion.waitForLine("Not paired."));
    EXPECT_FALSE(stored());

    // Frames already on their way may still land; none may be made after unpairing. Longer
    // than one polling interval.
    while (const auto late = nextSnapshot(subscriber, 6s))
        EXPECT_LT(QDateTime::fromString(late->value("generatedAt").toString(), Qt::ISODateWithMs), unpaired);
    TestSocket publisher;
    EXPECT_FALSE(publisher.authenticate(socketUrl(relay.baseUrl(), channelId), "publisher", *token))
        << "the publisher token still works after unpairing";

    // One line each, time first; no token and no sync time.
    for (const QString &line : companion.lines()) {
        EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d \\S").match(line).hasMatch()) << line.toStdString();
        EXPECT_FALSE(line.contains(*token));
        EXPECT_FALSE(line.contains("sync", Qt::CaseInsensitive)) << line.toStdString();
    }
}

std::optional<QString> tokenIn(const QByteArray &credentials)
{
    const QString token = json(credentials).value("publisherToken").toString();
    return token.isEmpty() ? std::nullopt : std::optional(token);
}

TEST(HeadlessFlow, PairsPublishesRecoversAndUnpairsWithTheSecretService)
{
    pairPublishAndUnpair(companionEnvironment(), [] {
        const Finished lookup = run("secret-tool", {"lookup", "service", "dev.orvane.companion", "account", "relay-publisher"},
                                    QProcessEnvironment::systemEnvironment(), 20s);
        return tokenIn(lookup.out.toUtf8());
    });
}

TEST(HeadlessFlow, KeepsThePairingInThePrivateFileWithoutAnySecretService)
{
    BareSessionBus bus;
    ASSERT_FALSE(bus.address().isEmpty());
    QProcessEnvironment environment = companionEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());

    // Without the choice, pairing fails, says why and what to do, and keeps nothing.
    RelayProcess relay(relayProgram);
    ASSERT_TRUE(relay.baseUrl().isValid());
    QProcessEnvironment unchosen = environment;
    unchosen.insert(QStringLiteral("ORVANE_RELAY_URL"), relay.baseUrl().toString());
    const Finished refused = run(orvane, {"--pair", askForPin(relay.baseUrl()).pin}, unchosen);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.out.isEmpty());
    EXPECT_EQ(refused.err, "Unable to keep the pairing in the system's credential store: no Secret Service is running "
                           "(for example gnome-keyring or KeePassXC). " + storeHint + "\n");

    environment.insert(QStringLiteral("ORVANE_CREDENTIAL_STORE"), QStringLiteral("file"));
    const QString file = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/orvane/credentials.json";
    pairPublishAndUnpair(environment, [&file]() -> std::optional<QString> {
        QFile credentials(file);
        if (!credentials.open(QIODevice::ReadOnly))
            return std::nullopt;
        struct stat info {};
        ::stat(QFile::encodeName(file).constData(), &info);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        return tokenIn(json(credentials.readAll()).value("relay-publisher").toString().toUtf8());
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
    EXPECT_TRUE(text.contains("\nExecStart=" + QByteArray(ORVANE_CONFIGURED_BINDIR) + "/orvane --headless\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nEnvironment=ORVANE_CREDENTIAL_STORE=file\n"));
    EXPECT_FALSE(QFile::exists(prefix + "/share/systemd/user/default.target.wants")) << "enabled on install";
}

} // namespace
} // namespace orvane::test
