// The orvane-relay executable as a user runs it: --new-pin, pairing and publishing with
// RelayPublisher, a restart that keeps the channel, and its default data directory.
#include "relay_test_support.h"

#include <await_task.h>
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>

namespace orvane::test {
namespace {

// A relay started and awaited: a server until it prints where it listens, a command until it ends.
struct Relay : QProcess {
    QUrl baseUrl;

    explicit Relay(const QStringList &arguments)
    {
        start(ORVANE_RELAY_EXECUTABLE, arguments);
        if (arguments.contains("--new-pin"))
            waitForFinished(20'000);
        else if (waitForReadyRead(10'000))
            baseUrl = QRegularExpression("^orvane-relay listening on (http://127.0.0.1:[0-9]+)\n$").match(readLine()).captured(1);
    }
    ~Relay() override
    {
        terminate();
        waitForFinished(10'000);
    }
};

TEST(RelayProcess, PairsThroughNewPinPublishesAndSurvivesARestart)
{
    QTemporaryDir data;
    auto relay = std::make_unique<Relay>(QStringList{"--listen", "127.0.0.1:0", "--data", data.path()});
    ASSERT_TRUE(relay->baseUrl.isValid());
    const QString listen = relay->baseUrl.authority();
    Relay newPin({"--new-pin", "--listen", listen});
    const QByteArray pin = newPin.readAllStandardOutput();
    ASSERT_TRUE(QRegularExpression("^[0-9]{6}\n$").match(pin).hasMatch()) << pin.toStdString();
    EXPECT_EQ(newPin.exitCode(), 0);

    RelayPublisher publisher(relay->baseUrl, quickTiming());
    PublisherEvents events(publisher);
    publisher.connect(awaitTask(publisher.completePairing(pin)));
    ASSERT_TRUE(waitUntil([&] { return events.authenticated(); }));
    relay.reset();
    ASSERT_TRUE(waitUntil([&] { return !events.connections.back().first; }));
    relay = std::make_unique<Relay>(QStringList{"--listen", listen, "--data", data.path()});
    EXPECT_TRUE(waitUntil([&] { return events.authenticated(); })) << "the restarted relay knows the channel";

    Relay noRelay({"--new-pin", "--listen", "127.0.0.1:1"});
    EXPECT_EQ(noRelay.exitCode(), 1);
    EXPECT_EQ(noRelay.readAllStandardOutput(), "");
}

TEST(RelayProcess, KeepsItsDataUnderTheUsersDataDirectoryByDefault)
{
    const Relay relay({"--listen", "127.0.0.1:0"});
    ASSERT_TRUE(relay.baseUrl.isValid());
    EXPECT_TRUE(QFile::exists(qEnvironmentVariable("XDG_DATA_HOME") + "/orvane-relay/channels.sqlite3"));
    EXPECT_EQ(Relay({"--listen", "nowhere"}).exitCode(), 2);
}

} // namespace
} // namespace orvane::test
