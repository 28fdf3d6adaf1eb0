// The orvane-relay executable as a user runs it: start, --new-pin, pairing and publishing
// with RelayPublisher, and a restart that keeps the channel.
#include "publisher_events.h"
#include "relay_test_support.h"

#include <await_task.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace orvane::test {
namespace {

const QString relayExecutable = QStringLiteral(ORVANE_RELAY_EXECUTABLE);

// One running orvane-relay; stopped with the object.
class RelayProcess {
public:
    explicit RelayProcess(const QStringList &arguments)
    {
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(relayExecutable, arguments);
        if (!process_.waitForReadyRead(10'000))
            return;
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        const auto match = QRegularExpression(QStringLiteral("^orvane-relay listening on (http://127\\.0\\.0\\.1:[0-9]+)$")).match(line);
        if (match.hasMatch())
            baseUrl_ = QUrl(match.captured(1));
    }
    ~RelayProcess()
    {
        process_.terminate();
        process_.waitForFinished(10'000);
    }
    const QUrl &baseUrl() const { return baseUrl_; }
    QString listen() const { return QStringLiteral("127.0.0.1:%1").arg(baseUrl_.port()); }

private:
    QProcess process_;
    QUrl baseUrl_;
};

struct Finished {
    int exitCode;
    QByteArray out;
    QByteArray err;
};

Finished runRelay(const QStringList &arguments)
{
    QProcess process;
    process.start(relayExecutable, arguments);
    process.waitForFinished(20'000);
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

TEST(RelayProcess, PairsThroughNewPinPublishesAndSurvivesARestart)
{
    QTemporaryDir data;
    std::optional<RelayProcess> relay;
    relay.emplace(QStringList{"--listen", "127.0.0.1:0", "--data", data.path()});
    ASSERT_TRUE(relay->baseUrl().isValid());
    const QString listen = relay->listen();

    const Finished newPin = runRelay({"--new-pin", "--listen", listen});
    EXPECT_EQ(newPin.exitCode, 0) << newPin.err.toStdString();
    ASSERT_TRUE(QRegularExpression("^[0-9]{6}\n$").match(QString::fromUtf8(newPin.out)).hasMatch()) << newPin.out.toStdString();

    RelayPublisher publisher(relay->baseUrl(), quickTiming());
    PublisherEvents events(publisher);
    const PairingCredentials credentials = awaitTask(publisher.completePairing(QString::fromUtf8(newPin.out)));
    publisher.connect(credentials);
    ASSERT_TRUE(waitUntil([&] { return events.authenticated(); }));

    relay.reset();
    ASSERT_TRUE(waitUntil([&] { return !events.connections.back().first; }));
    relay.emplace(QStringList{"--listen", listen, "--data", data.path()});
    ASSERT_TRUE(relay->baseUrl().isValid());
    EXPECT_TRUE(waitUntil([&] { return events.authenticated(); })) << "the restarted relay knows the channel";
    EXPECT_TRUE(events.errors.empty() || events.errors.back() != "The token is not valid for this channel.");
}

TEST(RelayProcess, KeepsItsDataUnderTheUsersDataDirectoryByDefault)
{
    // The test session's XDG_DATA_HOME is a temporary directory.
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    ASSERT_FALSE(dataHome.isEmpty());
    RelayProcess relay({"--listen", "127.0.0.1:0"});
    ASSERT_TRUE(relay.baseUrl().isValid());
    EXPECT_TRUE(QFile::exists(QDir(dataHome).filePath("orvane-relay/channels.sqlite3")));
}

TEST(RelayProcess, ExplainsItsOptionsAndRefusesBadOnes)
{
    const Finished help = runRelay({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char *option : {"--listen", "--data", "--new-pin"})
        EXPECT_TRUE(help.out.contains(option)) << option;
    EXPECT_EQ(runRelay({"--listen", "nowhere"}).exitCode, 2);
    const Finished noRelay = runRelay({"--new-pin", "--listen", "127.0.0.1:1"});
    EXPECT_EQ(noRelay.exitCode, 1);
    EXPECT_TRUE(noRelay.out.isEmpty());
}

} // namespace
} // namespace orvane::test
