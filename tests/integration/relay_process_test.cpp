// The orvane-relay executable as a user runs it: --new-pin, pairing a publisher, and where it
// keeps its data; a restart that keeps the channel is in relay_publisher_test.
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

TEST(RelayProcess, HandsOutAPinWithNewPinAndPairsAPublisher)
{
    QTemporaryDir data;
    const Relay relay({"--listen", "127.0.0.1:0", "--data", data.path()});
    ASSERT_TRUE(relay.baseUrl.isValid());
    EXPECT_TRUE(QFile::exists(data.filePath("channels.sqlite3")));
    Relay newPin({"--new-pin", "--listen", relay.baseUrl.authority()});
    const QByteArray pin = newPin.readAllStandardOutput();
    ASSERT_TRUE(QRegularExpression("^[0-9]{6}\n$").match(pin).hasMatch()) << pin.toStdString();
    EXPECT_EQ(newPin.exitCode(), 0);

    RelayPublisher publisher(relay.baseUrl, quickTiming());
    PublisherEvents events(publisher);
    publisher.connect(awaitTask(publisher.completePairing(pin)));
    EXPECT_TRUE(waitUntil([&] { return events.authenticated(); }));

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
