// The orvane-relay executable as a user runs it, and as an outsider attacks it, through its real
// sockets: --new-pin, pairing a publisher, where it keeps its data and with which modes; PIN
// guessing from many addresses; huge requests and idle crowds; a subscriber that stops reading;
// a trusted proxy; permessage-deflate with the `ws` library. A restart that keeps the channel
// is in relay_publisher_test.
#include "raw_relay_client.h"
#include "relay_test_support.h"
#include "snapshot_frame.h"

#include <waits.h>
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <sys/stat.h>

namespace orvane::test {
namespace {

// A relay started and awaited: a server until it prints where it listens, a command until it ends.
struct Relay : QProcess {
    QUrl baseUrl;

    explicit Relay(const QStringList &arguments)
    {
        // A file, not a pipe: a pipe nobody empties would stop the relay at its next log line.
        logFile.open();
        setStandardErrorFile(logFile.fileName());
        start(ORVANE_RELAY_EXECUTABLE, arguments);
        if (arguments.contains("--new-pin") || arguments.contains("--version"))
            waitForFinished(20'000);
        else if (waitForReadyRead(10'000))
            baseUrl = QRegularExpression("^orvane-relay listening on (http://127.0.0.1:[0-9]+)\n$").match(readLine()).captured(1);
    }
    ~Relay() override
    {
        terminate();
        waitForFinished(10'000);
    }
    std::uint16_t port() const { return static_cast<std::uint16_t>(baseUrl.port()); }
    // What it has logged so far.
    QByteArray log() { return logFile.seek(0) ? logFile.readAll() : QByteArray(); }
    qint64 residentKilobytes() const
    {
        QFile status(QString("/proc/%1/status").arg(processId()));
        status.open(QIODevice::ReadOnly);
        return QRegularExpression("VmRSS:\\s+([0-9]+) kB").match(status.readAll()).captured(1).toLongLong();
    }
    QTemporaryFile logFile;
};

QJsonObject json(const std::string &text)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

std::string post(const std::string &path, const std::string &body, const std::string &headers = "")
{
    return "POST " + path + " HTTP/1.1\r\nHost: relay\r\nContent-Type: application/json\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string pinBody(const QString &pin)
{
    return R"({"pin":")" + pin.toStdString() + "\"}";
}

struct Channel {
    std::string id, publisherToken, subscriberToken;
};

Channel pairOver(std::uint16_t port)
{
    RawRelayClient client("127.0.0.1", port);
    const QJsonObject issued = json(client.http(post("/v1/pairings", "{}")).body);
    const QJsonObject channel = json(client.http(post("/v1/pairings/complete", pinBody(issued["pin"].toString()))).body);
    const QJsonObject glasses =
        json(client.http("GET /v1/pairings/" + issued["pairingId"].toString().toStdString() + " HTTP/1.1\r\nHost: relay\r\n\r\n").body);
    return {channel["channelId"].toString().toStdString(), channel["publisherToken"].toString().toStdString(),
            glasses["subscriberToken"].toString().toStdString()};
}

// The first answer on a socket that asked to be `role` of the channel.
std::string joinAs(RawRelayClient &client, const Channel &channel, const std::string &role, bool deflate = false)
{
    if (!client.upgrade("/v1/channels/" + channel.id + "/connect", deflate))
        return "no upgrade";
    const std::string &token = role == "publisher" ? channel.publisherToken : channel.subscriberToken;
    client.sendText(R"({"type":"authenticate","role":")" + role + R"(","token":")" + token + "\"}");
    const auto answer = client.nextMessage();
    return answer ? answer->payload : "no answer";
}

const std::string authenticated = R"({"type":"authenticated"})";

TEST(RelayProcess, HandsOutAPinWithNewPinPairsAPublisherAndKeepsItsFilesPrivate)
{
    ::umask(022);
    QTemporaryDir data;
    Relay relay({"--listen", "127.0.0.1:0", "--data", data.filePath("relay")});
    ASSERT_TRUE(relay.baseUrl.isValid());
    struct stat folder {}, database {};
    ASSERT_EQ(::stat(qPrintable(data.filePath("relay")), &folder), 0);
    ASSERT_EQ(::stat(qPrintable(data.filePath("relay/channels.sqlite3")), &database), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    EXPECT_EQ(database.st_mode & 0777, 0600u);
    Relay newPin({"--new-pin", "--listen", relay.baseUrl.authority()});
    const QByteArray pin = newPin.readAllStandardOutput();
    ASSERT_TRUE(QRegularExpression("^[0-9]{6}\n$").match(pin).hasMatch()) << pin.toStdString();
    EXPECT_EQ(newPin.exitCode(), 0);

    RelayPublisher publisher(relay.baseUrl, quickTiming());
    PublisherEvents events(publisher);
    const PairingCredentials credentials = awaitTask(publisher.completePairing(pin));
    publisher.connect(credentials);
    EXPECT_TRUE(waitUntil([&] { return events.authenticated(); }));
    EXPECT_TRUE(waitUntil([&] { return relay.log().contains("socket authenticated as publisher"); }));
    EXPECT_TRUE(relay.log().contains("pairing completed"));
    EXPECT_FALSE(relay.log().contains(pin.trimmed())) << "no PIN in the log";
    EXPECT_FALSE(relay.log().contains(credentials.publisherToken.c_str())) << "no token in the log";

    Relay noRelay({"--new-pin", "--listen", "127.0.0.1:1", "--data", data.filePath("none")});
    EXPECT_EQ(noRelay.exitCode(), 1);
    EXPECT_EQ(noRelay.readAllStandardOutput(), "");
    EXPECT_TRUE(noRelay.log().contains("no relay is listening at http://127.0.0.1:1"));
    EXPECT_FALSE(QFile::exists(data.filePath("none")));
    Relay taken({"--listen", relay.baseUrl.authority(), "--data", data.filePath("relay")});
    EXPECT_EQ(taken.exitCode(), 1);
    EXPECT_TRUE(taken.log().contains("Address already in use"));
    EXPECT_EQ(Relay({"--version"}).readAllStandardOutput(), "orvane-relay " ORVANE_VERSION "\n");
}

TEST(RelayProcess, KeepsItsDataUnderTheUsersDataDirectoryByDefault)
{
    const Relay relay({"--listen", "127.0.0.1:0"});
    ASSERT_TRUE(relay.baseUrl.isValid());
    EXPECT_TRUE(QFile::exists(qEnvironmentVariable("XDG_DATA_HOME") + "/orvane-relay/channels.sqlite3"));
    EXPECT_EQ(Relay({"--listen", "nowhere"}).exitCode(), 2);
    EXPECT_EQ(Relay({"--listen", "127.0.0.1:0", "--trusted-proxy", "proxy.example"}).exitCode(), 2);
}

TEST(RelayProcess, GuessingFromManyAddressesGetsNoTokenAndUsesUpThePendingPins)
{
    QTemporaryDir data;
    Relay relay({"--listen", "127.0.0.1:0", "--data", data.path()});
    ASSERT_TRUE(relay.baseUrl.isValid());
    RawRelayClient glasses("127.0.0.1", relay.port());
    std::vector<QJsonObject> pending;
    for (int i = 0; i < 10; ++i)
        pending.push_back(json(glasses.http(post("/v1/pairings", "{}")).body));
    EXPECT_EQ(glasses.http(post("/v1/pairings", "{}")).status, 429) << "PINs are rate-limited per client";

    int tokens = 0, refused = 0;
    for (int address = 0; address < 250; ++address) {
        RawRelayClient guesser("127.0.1." + std::to_string(address + 1), relay.port());
        for (int guess = 0; guess < 4; ++guess) {
            const auto answer = guesser.http(post("/v1/pairings/complete", pinBody(QString::asprintf("%06d", address * 4 + guess))));
            tokens += answer.status == 200 || answer.body.find("publisherToken") != std::string::npos;
            refused += answer.status == 429;
        }
    }
    EXPECT_EQ(tokens, 0);
    EXPECT_GT(refused, 900) << "the relay-wide budget stops the run early";
    const auto victim = glasses.http("GET /v1/pairings/" + pending[0]["pairingId"].toString().toStdString() +
                                     " HTTP/1.1\r\nHost: relay\r\n\r\n");
    EXPECT_EQ(victim.status, 404) << "the glasses must ask for a new PIN";
    EXPECT_NE(glasses.http(post("/v1/pairings/complete", pinBody(pending[0]["pin"].toString()))).status, 200);
    EXPECT_TRUE(waitUntil([&] { return relay.log().contains("pairing withdrawn"); }));
    for (const QJsonObject &issued : pending)
        EXPECT_FALSE(relay.log().contains(issued["pin"].toString().toUtf8()));
}

TEST(RelayProcess, StaysSmallAndAnswersUnderHugeRequestsAndIdleCrowds)
{
    QTemporaryDir data;
    Relay relay({"--listen", "127.0.0.1:0", "--data", data.path()});
    ASSERT_TRUE(relay.baseUrl.isValid());
    std::vector<std::unique_ptr<RawRelayClient>> idle;
    for (int i = 0; i < 300; ++i)
        idle.push_back(std::make_unique<RawRelayClient>("127.0.2." + std::to_string(1 + i % 5), relay.port()));
    for (int i = 0; i < 70; ++i)
        idle.push_back(std::make_unique<RawRelayClient>("127.0.2.9", relay.port()));
    EXPECT_TRUE(idle.back()->waitClosed(10s)) << "over the per-client cap the door closes at once";

    const std::string megabyte(1 << 20, 'a');
    RawRelayClient body("127.0.3.1", relay.port());
    std::size_t sent = 0;
    if (body.sendAll("POST /v1/pairings/complete HTTP/1.1\r\nHost: relay\r\nContent-Length: 4000000000\r\n\r\n"))
        while (sent < 300 * megabyte.size() && body.sendAll(megabyte))
            sent += megabyte.size();
    EXPECT_LT(sent, 300 * megabyte.size()) << "a 4 GB body is refused, not read";
    RawRelayClient header("127.0.3.2", relay.port());
    sent = 0;
    if (header.sendAll("GET / HTTP/1.1\r\nX-Long: "))
        while (sent < 150 * megabyte.size() && header.sendAll(megabyte))
            sent += megabyte.size();
    EXPECT_LT(sent, 150 * megabyte.size()) << "a 150 MB header is refused, not read";

    RawRelayClient user("127.0.0.1", relay.port());
    EXPECT_EQ(user.http(post("/v1/pairings", "{}"), 5s).status, 201);
    EXPECT_LT(relay.residentKilobytes(), 100 * 1024);
    EXPECT_TRUE(idle.front()->waitClosed(30s)) << "a connection that sends no request is closed";
}

TEST(RelayProcess, DropsASubscriberThatStopsReadingWhileOthersKeepReceivingCompressedOrPlain)
{
    QTemporaryDir data;
    Relay relay({"--listen", "127.0.0.1:0", "--data", data.path()});
    ASSERT_TRUE(relay.baseUrl.isValid());
    const Channel channel = pairOver(relay.port());
    RawRelayClient publisher("127.0.0.1", relay.port());
    ASSERT_EQ(joinAs(publisher, channel, "publisher"), authenticated);
    RawRelayClient stuck("127.0.0.1", relay.port(), 4096);
    ASSERT_EQ(joinAs(stuck, channel, "subscriber"), authenticated);
    std::vector<std::unique_ptr<RawRelayClient>> readers;
    for (int i = 0; i < 7; ++i) {
        readers.push_back(std::make_unique<RawRelayClient>("127.0.0.1", relay.port()));
        ASSERT_EQ(joinAs(*readers.back(), channel, "subscriber", i == 0), authenticated);
        const auto presence = readers.back()->nextMessage();
        ASSERT_TRUE(presence);
        EXPECT_EQ(presence->payload, R"({"type":"publisher","online":true})");
    }
    RawRelayClient ninth("127.0.0.1", relay.port());
    EXPECT_EQ(json(joinAs(ninth, channel, "subscriber"))["message"], "This channel has as many subscribers as it may have.");

    const int snapshots = 12;
    for (int sequence = 1; sequence <= snapshots; ++sequence) {
        const std::string frame = snapshotFrame(sequence, 250'000);
        publisher.sendText(frame);
        for (std::size_t i = 0; i < readers.size(); ++i) {
            const auto message = readers[i]->nextMessage();
            ASSERT_TRUE(message) << "reader " << i << " at " << sequence;
            EXPECT_EQ(message->compressed, i == 0);
            if (i == 0)
                EXPECT_LT(message->payload.size(), frame.size() / 2);
            else
                EXPECT_EQ(message->payload, frame);
        }
    }
    EXPECT_TRUE(stuck.waitClosed(20s));
    EXPECT_LT(stuck.wireBytes(), snapshots * 250'000u);
    EXPECT_TRUE(waitUntil([&] { return relay.log().contains("socket dropped subscriber"); }));
    RawRelayClient again("127.0.0.1", relay.port());
    EXPECT_EQ(joinAs(again, channel, "subscriber"), authenticated) << "the dropped one's place is free again";
}

TEST(RelayProcess, TrustsForwardedForOnlyFromTheNamedProxy)
{
    QTemporaryDir data;
    Relay relay({"--listen", "127.0.0.1:0", "--data", data.path(), "--trusted-proxy", "127.0.0.1"});
    ASSERT_TRUE(relay.baseUrl.isValid());
    const auto guess = [&](const std::string &from, const std::string &forwardedFor) {
        RawRelayClient client(from, relay.port());
        return client.http(post("/v1/pairings/complete", pinBody("000000"), "X-Forwarded-For: " + forwardedFor + "\r\n")).status;
    };
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(guess("127.0.0.1", "198.51.100.1, 203.0.113.7"), 404);
    EXPECT_EQ(guess("127.0.0.1", "203.0.113.7"), 429) << "the client the proxy named is limited";
    EXPECT_EQ(guess("127.0.0.1", "203.0.113.8"), 404) << "not everyone behind the proxy";
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(guess("127.0.0.2", "203.0.113.9"), 404);
    EXPECT_EQ(guess("127.0.0.2", "203.0.113.10"), 429) << "an untrusted peer is itself, whatever it claims";
    EXPECT_EQ(guess("127.0.0.1", "203.0.113.9"), 404);
    EXPECT_TRUE(waitUntil([&] { return relay.log().contains("pairing refused for 203.0.113.7: too many wrong PINs"); }));
}

TEST(RelayProcess, OffersPermessageDeflateToTheWsLibrary)
{
    if (QString(ORVANE_TEST_NODE_MODULES).isEmpty())
        GTEST_SKIP() << "configure with ORVANE_TEST_NODE_MODULES (make test installs ws there)";
    QTemporaryDir data;
    Relay relay({"--listen", "127.0.0.1:0", "--data", data.path()});
    ASSERT_TRUE(relay.baseUrl.isValid());
    const Channel channel = pairOver(relay.port());
    RawRelayClient publisher("127.0.0.1", relay.port());
    ASSERT_EQ(joinAs(publisher, channel, "publisher"), authenticated);
    const std::string frame = snapshotFrame(1, 228'000);
    publisher.sendText(frame);
    const auto subscriber = [&](const QString &mode) {
        QProcess node;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("NODE_PATH", ORVANE_TEST_NODE_MODULES);
        node.setProcessEnvironment(environment);
        node.start("node", {ORVANE_WS_SUBSCRIBER, socketUrl(relay.baseUrl, channel.id.c_str()).toString(),
                            channel.subscriberToken.c_str(), mode});
        node.waitForFinished(60'000);
        return QJsonDocument::fromJson(node.readAllStandardOutput()).object();
    };
    const QJsonObject compressed = subscriber("deflate"), plain = subscriber("plain");
    std::printf("relay snapshot of %zu bytes on the wire: %d with permessage-deflate, %d without\n", frame.size(),
                compressed["wireBytes"].toInt(), plain["wireBytes"].toInt());
    EXPECT_TRUE(compressed["extensions"].toString().startsWith("permessage-deflate"));
    EXPECT_EQ(compressed["messageBytes"].toInt(), static_cast<int>(frame.size()));
    EXPECT_LT(compressed["wireBytes"].toInt(), static_cast<int>(frame.size()) / 2);
    EXPECT_EQ(plain["extensions"].toString(), "");
    EXPECT_EQ(plain["messageBytes"].toInt(), static_cast<int>(frame.size()));
    EXPECT_GT(plain["wireBytes"].toInt(), static_cast<int>(frame.size()));
}

} // namespace
} // namespace orvane::test
