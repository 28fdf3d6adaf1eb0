// The orvane-relay executable as a user runs it, and as outsiders attack it, through its real
// sockets: --new-pin, where it keeps its data and with which modes, what it logs; a trusted
// proxy; a subscriber that stops reading beside ones that keep up; huge requests and idle crowds;
// PIN guessing from many addresses. Its idle time-outs are in relay_server_test,
// with short limits; a browser inflating its compressed frames is glasses_page_test.
#include "relay_test_support.h"
#include "websocket_server_peer.h"

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
    std::uint16_t port() const { return static_cast<std::uint16_t>(baseUrl.port()); }
    // What it has logged so far.
    QByteArray log() { return logFile.seek(0) ? logFile.readAll() : QByteArray(); }
    QTemporaryFile logFile;
};

// The glasses asking for a PIN, and anyone trying one.
const QByteArray newPairing = httpMessage("POST", "/v1/pairings", "{}");
QByteArray tryPin(const QString &pin, const QByteArray &headers = "")
{
    return httpMessage("POST", "/v1/pairings/complete", R"({"pin":")" + pin.toUtf8() + "\"}", headers);
}

// One relay as a user starts it, then through the whole attack; each part comes before the ones
// that would spend the budgets it needs (wrong PINs relay-wide, PINs per client).
TEST(RelayProcess, PairsWithNewPinKeepsItsSecretsAndWithstandsGuessersStuckReadersHugeRequestsAndCrowds)
{
    ::umask(022);
    const QString dataDirectory = qEnvironmentVariable("XDG_DATA_HOME") + "/orvane-relay";
    Relay relay({"--listen", "127.0.0.1:0", "--trusted-proxy", "127.0.0.1"});
    ASSERT_TRUE(relay.baseUrl.isValid());
    struct stat folder {}, database {};
    ASSERT_EQ(::stat(qPrintable(dataDirectory), &folder), 0) << "the user's data directory by default";
    ASSERT_EQ(::stat(qPrintable(dataDirectory + "/channels.sqlite3"), &database), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    EXPECT_EQ(database.st_mode & 0777, 0600u);
    Relay newPin({"--new-pin", "--listen", relay.baseUrl.authority()});
    const QByteArray pin = newPin.readAllStandardOutput();
    ASSERT_TRUE(QRegularExpression("^[0-9]{6}\n$").match(pin).hasMatch()) << pin.toStdString();
    EXPECT_EQ(newPin.exitCode(), 0);
    const QByteArray paired = RawConnection("127.0.0.1", relay.port()).http(tryPin(pin.trimmed())).body;
    EXPECT_TRUE(jsonObject(paired).contains("publisherToken")) << "the PIN pairs";
    const LocalRelay::Pairing channel = pairAt(relay.baseUrl);

    // X-Forwarded-For is believed only from the named proxy.
    const auto guess = [&](const QString &from, const QByteArray &forwardedFor) {
        RawConnection client(from, relay.port());
        return client.http(tryPin("000000", "X-Forwarded-For: " + forwardedFor + "\r\n")).status;
    };
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(guess("127.0.0.1", "198.51.100.1, 203.0.113.7"), 404);
    EXPECT_EQ(guess("127.0.0.1", "203.0.113.7"), 429) << "the client the proxy named is limited";
    EXPECT_TRUE(waitUntil([&] { return relay.log().contains("pairing refused for 203.0.113.7: too many wrong PINs"); }));

    // A subscriber that stops reading is dropped while the others keep receiving. It speaks
    // WebSocket by hand, as Qt's client would go on reading.
    const QUrl socket = socketUrl(relay.baseUrl, channel.credentials.channelId.c_str());
    TestSocket publisher;
    ASSERT_TRUE(publisher.authenticate(socket, "publisher", channel.credentials.publisherToken.c_str()));
    RawConnection stuck("127.0.0.1", relay.port(), 4096);
    ASSERT_EQ(stuck.http("GET " + socket.path().toUtf8() + " HTTP/1.1\r\nHost: relay\r\nUpgrade: websocket\r\n"
                         "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n").status, 101);
    const QByteArray authenticate = authenticateMessage("subscriber", channel.subscriberToken);
    stuck.socket.write(QByteArray::fromStdString(encodeRaw({.payload = authenticate.toStdString(), .masked = true})));
    ASSERT_TRUE(stuck.readUntil([&] { return stuck.received.contains(R"({"type":"authenticated"})"); }));
    stuck.socket.setReadBufferSize(4096);
    std::vector<std::unique_ptr<TestSocket>> readers;
    for (int i = 0; i < 7; ++i) {
        readers.push_back(std::make_unique<TestSocket>());
        ASSERT_TRUE(readers.back()->authenticate(socket, "subscriber", channel.subscriberToken));
        ASSERT_TRUE(readers.back()->next()) << "the publisher's presence";
    }
    TestSocket ninth;
    ASSERT_TRUE(ninth.open(socket));
    ninth.send(authenticate);
    EXPECT_EQ(jsonObject(ninth.next())["message"], "This channel has as many subscribers as it may have.");
    for (int sequence = 1; sequence <= 12; ++sequence) {
        const QByteArray frame = R"({"type":"snapshot","snapshot":{"sequence":)" + QByteArray::number(sequence) + R"(,"pad":")" +
                                 QByteArray(250'000, 'x') + "\"}}";
        publisher.send(frame);
        for (std::size_t i = 0; i < readers.size(); ++i)
            ASSERT_EQ(readers[i]->next(), frame) << "reader " << i << " at " << sequence;
    }
    stuck.socket.setReadBufferSize(0);
    EXPECT_TRUE(stuck.waitClosed(20s));
    EXPECT_LT(stuck.bytesRead, 12 * 250'000) << "less than it was sent";
    EXPECT_TRUE(waitUntil([&] { return relay.log().contains("socket dropped subscriber"); }));
    EXPECT_TRUE(TestSocket().authenticate(socket, "subscriber", channel.subscriberToken)) << "the dropped one's place is free";

    // Idle crowds, a 4 GB body and a 150 MB header: refused, and the relay stays small and answers.
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < 370; ++i)
        idle.push_back(std::make_unique<RawConnection>(QString("127.0.2.%1").arg(i < 300 ? 1 + i % 5 : 9), relay.port()));
    EXPECT_TRUE(idle.back()->waitClosed(10s)) << "over the per-client cap the door closes at once";
    const QByteArray megabyte(1 << 20, 'a');
    for (const auto &[head, megabytes] : {std::pair<QByteArray, qsizetype>{
                                              "POST /v1/pairings/complete HTTP/1.1\r\nHost: relay\r\nContent-Length: 4000000000\r\n\r\n", 300},
                                          {"GET / HTTP/1.1\r\nX-Long: ", 150}}) {
        RawConnection sender("127.0.3.1", relay.port());
        qsizetype sent = 0;
        if (sender.sendAll(head))
            while (sent < megabytes * megabyte.size() && sender.sendAll(megabyte))
                sent += megabyte.size();
        EXPECT_LT(sent, megabytes * megabyte.size()) << head.toStdString() << " is refused, not read";
    }
    RawConnection user("127.0.0.1", relay.port());
    EXPECT_EQ(user.http(newPairing, 5s).status, 201);
    QFile status(QString("/proc/%1/status").arg(relay.processId()));
    ASSERT_TRUE(status.open(QIODevice::ReadOnly));
    EXPECT_LT(QRegularExpression("VmRSS:\\s+([0-9]+) kB").match(status.readAll()).captured(1).toLongLong(), 100 * 1024);
    idle.clear();

    // Guessing from many addresses gets no token and uses up the pending PINs.
    RawConnection glasses("127.0.0.3", relay.port());
    std::vector<QJsonObject> pending;
    for (int i = 0; i < 10; ++i)
        pending.push_back(jsonObject(glasses.http(newPairing).body));
    EXPECT_EQ(glasses.http(newPairing).status, 429) << "PINs are rate-limited per client";
    int tokens = 0, refused = 0;
    for (int address = 0; address < 250; ++address) {
        RawConnection guesser(QString("127.0.1.%1").arg(address + 1), relay.port());
        for (int attempt = 0; attempt < 4; ++attempt) {
            const auto answer = guesser.http(tryPin(QString::asprintf("%06d", address * 4 + attempt)));
            tokens += answer.status == 200 || answer.body.contains("publisherToken");
            refused += answer.status == 429;
        }
    }
    EXPECT_EQ(tokens, 0);
    EXPECT_GT(refused, 900) << "the relay-wide budget stops the run early";
    EXPECT_EQ(glasses.http("GET /v1/pairings/" + pending[0]["pairingId"].toString().toUtf8() + " HTTP/1.1\r\n\r\n").status, 404)
        << "the glasses must ask for a new PIN";
    EXPECT_NE(glasses.http(tryPin(pending[0]["pin"].toString())).status, 200);
    EXPECT_TRUE(waitUntil([&] { return relay.log().contains("pairing withdrawn"); }));

    // The log tells what happened, never a PIN or a token.
    EXPECT_TRUE(relay.log().contains("pairing completed") && relay.log().contains("socket authenticated as publisher"));
    QByteArrayList secrets = {pin.trimmed(), jsonObject(paired)["publisherToken"].toString().toUtf8(),
                              channel.subscriberToken.toUtf8(), QByteArray::fromStdString(channel.credentials.publisherToken)};
    for (const QJsonObject &issued : pending)
        secrets.append(issued["pin"].toString().toUtf8());
    for (const QByteArray &secret : secrets)
        EXPECT_FALSE(relay.log().contains(secret)) << secret.toStdString();
}

} // namespace
} // namespace orvane::test
