// The orvane-relay executable as a user runs it: --new-pin, pairing and publishing with
// RelayPublisher, a restart that keeps the channel, and its options.
#include "relay_test_support.h"

#include <await_task.h>
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>

namespace orvane::test {
namespace {

// Runs orvane-relay; a server is stopped with the object, a command awaited.
struct Relay {
    QProcess process;
    QUrl baseUrl;

    explicit Relay(const QStringList &arguments, bool server = true)
    {
        process.start(ORVANE_RELAY_EXECUTABLE, arguments);
        if (!server) {
            process.waitForFinished(20'000);
        } else if (process.waitForReadyRead(10'000)) {
            const auto match = QRegularExpression("^orvane-relay listening on (http://127.0.0.1:[0-9]+)\n$").match(process.readLine());
            baseUrl = match.hasMatch() ? QUrl(match.captured(1)) : QUrl();
        }
    }
    ~Relay()
    {
        process.terminate();
        process.waitForFinished(10'000);
    }
    QString listen() const { return QStringLiteral("127.0.0.1:%1").arg(baseUrl.port()); }
};

TEST(RelayProcess, PairsThroughNewPinPublishesAndSurvivesARestart)
{
    QTemporaryDir data;
    auto relay = std::make_unique<Relay>(QStringList{"--listen", "127.0.0.1:0", "--data", data.path()});
    ASSERT_TRUE(relay->baseUrl.isValid());
    const QString listen = relay->listen();
    Relay newPin({"--new-pin", "--listen", listen}, false);
    EXPECT_EQ(newPin.process.exitCode(), 0);
    const QByteArray pin = newPin.process.readAllStandardOutput();
    ASSERT_TRUE(QRegularExpression("^[0-9]{6}\n$").match(pin).hasMatch()) << pin.toStdString();

    RelayPublisher publisher(relay->baseUrl, quickTiming());
    PublisherEvents events(publisher);
    publisher.connect(awaitTask(publisher.completePairing(pin)));
    ASSERT_TRUE(waitUntil([&] { return events.authenticated(); }));
    relay.reset();
    ASSERT_TRUE(waitUntil([&] { return !events.connections.back().first; }));
    relay = std::make_unique<Relay>(QStringList{"--listen", listen, "--data", data.path()});
    EXPECT_TRUE(waitUntil([&] { return events.authenticated(); })) << "the restarted relay knows the channel";
}

TEST(RelayProcess, KeepsItsDataUnderTheUsersDataDirectoryByDefaultAndExplainsItsOptions)
{
    const Relay relay({"--listen", "127.0.0.1:0"});
    ASSERT_TRUE(relay.baseUrl.isValid());
    EXPECT_TRUE(QFile::exists(qEnvironmentVariable("XDG_DATA_HOME") + "/orvane-relay/channels.sqlite3"));

    Relay help({"--help"}, false);
    const QByteArray out = help.process.readAllStandardOutput();
    EXPECT_TRUE(out.contains("--listen") && out.contains("--data") && out.contains("--new-pin")) << out.toStdString();
    EXPECT_EQ(Relay({"--listen", "nowhere"}, false).process.exitCode(), 2);
    Relay noRelay({"--new-pin", "--listen", "127.0.0.1:1"}, false);
    EXPECT_EQ(noRelay.process.exitCode(), 1);
    EXPECT_EQ(noRelay.process.readAllStandardOutput(), "");
}

} // namespace
} // namespace orvane::test
