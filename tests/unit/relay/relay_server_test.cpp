// orvane-relay in the test process on loopback: pairing through RelayPublisher's call and
// expiring channels on a clock the test moves, the socket hub's refusals and presence frames;
// idle connections and the connection cap under short limits; revoking is in relay_publisher_test.
#include "relay_test_support.h"

#include <fixture.h>
#include <waits.h>
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <atomic>

namespace orvane::test {
namespace {

namespace json = boost::json;

// On a clock the test moves; channels idle for two seconds of real time expire.
TEST(RelayServer, APinPairsOnceInAnyScriptWithinFiveMinutesUntilTooManyWrongOnesAndChannelsExpire)
{
    const QDateTime start = QDateTime::currentDateTimeUtc();
    std::atomic<qint64> ahead = 0; // read by the relay's own thread
    ServerLimits shortLives;
    shortLives.channelIdleLife = 2s;
    shortLives.sweepInterval = 1s;
    LocalRelay relay({300s, 3, 60s}, [&] { return start.addSecs(ahead); }, 10s, shortLives);
    RelayPublisher publisher(relay.baseUrl(), quickTiming());
    const auto pairWith = [&](const QString &pin) -> std::string {
        try {
            return awaitTask(publisher.completePairing(pin)).channelId;
        } catch (const RelayError &error) {
            return error.kind() == RelayError::Kind::pairingRejected ? error.what() : "unexpected";
        }
    };
    const QJsonObject issued = jsonObject(httpRequest("POST", relay.url("/v1/pairings")).body);
    const QString pin = issued.value("pin").toString();
    EXPECT_TRUE(QRegularExpression("^[0-9]{6}$").match(pin).hasMatch()) << pin.toStdString();
    EXPECT_EQ(issued.value("expiresAt"), start.addSecs(300).toString(Qt::ISODateWithMs));
    const QUrl status = relay.url("/v1/pairings/" + issued.value("pairingId").toString());
    EXPECT_EQ(jsonObject(httpRequest("GET", status).body).value("status"), "pending");

    ahead = 299;
    const std::string channelId = pairWith(pin.left(3) + " - " + pin.mid(3));
    const QJsonObject glasses = jsonObject(httpRequest("GET", status).body);
    EXPECT_EQ(glasses.value("status"), "completed");
    EXPECT_EQ(glasses.value("channelId").toString().toStdString(), channelId);
    EXPECT_GE(glasses.value("subscriberToken").toString().size(), 32);
    EXPECT_EQ(httpRequest("GET", status).status, 404) << "collected once";
    EXPECT_EQ(pairWith(pin), "This PIN is unknown or has expired.");

    QString arabicIndic;
    for (const QChar digit : relay.issuePin())
        arabicIndic.append(QChar(0x0660 + digit.digitValue()));
    EXPECT_EQ(pairWith(arabicIndic).size(), 36u);
    const QString late = relay.issuePin();
    ahead = 599;
    EXPECT_EQ(pairWith(late), "This PIN is unknown or has expired.");
    EXPECT_EQ(httpRequest("POST", relay.url("/v1/pairings/complete"), R"({"pin":123456})").status, 400);

    // The right PIN is refused too once the address is limited, or guessing would go on.
    pairWith("000000");
    pairWith("000001");
    EXPECT_EQ(pairWith(relay.issuePin()), "Too many wrong PINs. Wait a minute and try again.");
    ahead = 660;
    EXPECT_EQ(pairWith(relay.issuePin()).size(), 36u);

    // A channel without a publisher expires, unless the glasses may still collect its pairing.
    const auto authenticates = [&](const std::string &channelId, const QString &role, const QString &token) {
        return TestSocket().authenticate(socketUrl(relay.baseUrl(), channelId.c_str()), role, token);
    };
    const LocalRelay::Pairing published = relay.pair();
    TestSocket present;
    ASSERT_TRUE(present.authenticate(relay.socketUrl(published), "publisher", published.credentials.publisherToken.c_str()));
    const PairingCredentials uncollected = awaitTask(publisher.completePairing(relay.issuePin()));
    TestSocket uncollectedPublisher;
    ASSERT_TRUE(uncollectedPublisher.authenticate(socketUrl(relay.baseUrl(), uncollected.channelId.c_str()), "publisher",
                                                  uncollected.publisherToken.c_str()));
    const LocalRelay::Pairing forgotten = relay.pair();
    EXPECT_TRUE(waitUntil([&] { return !authenticates(forgotten.credentials.channelId, "subscriber", forgotten.subscriberToken); }, 30s));
    EXPECT_FALSE(authenticates(forgotten.credentials.channelId, "publisher", forgotten.credentials.publisherToken.c_str()));
    EXPECT_TRUE(authenticates(uncollected.channelId, "publisher", uncollected.publisherToken.c_str())) << "its PIN still lives";

    ahead = 961;
    EXPECT_EQ(jsonObject(uncollectedPublisher.next(20s)).value("type"), "revoked");
    EXPECT_TRUE(uncollectedPublisher.waitClosed(20s));
    EXPECT_FALSE(authenticates(uncollected.channelId, "publisher", uncollected.publisherToken.c_str()));
    EXPECT_TRUE(authenticates(published.credentials.channelId, "subscriber", published.subscriberToken))
        << "a channel whose publisher is present stays";
}

// Presence frames tell the glasses whether a companion is on their channel.
TEST(RelayServer, RefusesWrongFirstMessagesAndFramesOverTheLimitAndTellsSubscribersOfPublishers)
{
    LocalRelay relay({}, &QDateTime::currentDateTimeUtc, 500ms);
    const auto pairing = relay.pair();
    const QString publisherToken = pairing.credentials.publisherToken.c_str();
    for (const QByteArray &first : {authenticateMessage("publisher", pairing.subscriberToken),
                                    authenticateMessage("subscriber", publisherToken),
                                    authenticateMessage("admin", publisherToken), QByteArray(R"({"type":"snapshot"})"), QByteArray()}) {
        TestSocket socket;
        ASSERT_TRUE(socket.open(relay.socketUrl(pairing)));
        if (!first.isEmpty())
            socket.send(first);
        EXPECT_EQ(jsonObject(socket.next()).value("type"), "error") << first.toStdString();
        EXPECT_TRUE(socket.waitClosed()) << first.toStdString();
    }

    const auto type = [](const std::optional<QByteArray> &bytes) {
        const QJsonObject object = jsonObject(bytes);
        return object.value("type").toString() + (object.contains("online") ? object.value("online").toBool() ? " on" : " off" : "");
    };
    TestSocket subscriber;
    ASSERT_TRUE(subscriber.authenticate(relay.socketUrl(pairing), "subscriber", pairing.subscriberToken));
    EXPECT_EQ(type(subscriber.next()), "publisher off");
    auto publisher = std::make_unique<TestSocket>(), second = std::make_unique<TestSocket>();
    ASSERT_TRUE(publisher->authenticate(relay.socketUrl(pairing), "publisher", publisherToken));
    EXPECT_EQ(type(subscriber.next()), "publisher on");
    ASSERT_TRUE(second->authenticate(relay.socketUrl(pairing), "publisher", publisherToken));
    const QByteArray head = R"({"type":"event","pad":")";
    const auto sized = [&](qsizetype size) { return head + QByteArray(size - head.size() - 2, 'x') + "\"}"; };
    publisher->send(sized(262'145));
    EXPECT_EQ(jsonObject(publisher->next()).value("message"), "The message is larger than 262,144 bytes.");
    publisher->send(sized(262'144));
    EXPECT_EQ(subscriber.next().value_or("").size(), 262'144) << "the connection stays";

    publisher.reset();
    // A snapshot as a marker: no frame came before it, as a publisher is still there.
    second->send(R"({"type":"snapshot","snapshot":{"sequence":1}})");
    EXPECT_EQ(type(subscriber.next()), "snapshot");
    second.reset();
    EXPECT_EQ(type(subscriber.next()), "publisher off");
    EXPECT_FALSE(subscriber.waitClosed(700ms)) << "the authentication deadline spares authenticated sockets";
}

const QByteArray unknownPairing = "GET /v1/pairings/none HTTP/1.1\r\nHost: relay\r\n\r\n";

TEST(RelayServer, ClosesAKeptAliveConnectionThatFallsSilentAndRefusesConnectionsOverTheTotal)
{
    ServerLimits quickIdle;
    quickIdle.keepAliveIdle = 1s;
    quickIdle.requestDeadline = 1s;
    LocalRelay idleRelay({}, &QDateTime::currentDateTimeUtc, 10s, quickIdle);
    RawConnection silent("127.0.0.1", idleRelay.port()), mute("127.0.0.1", idleRelay.port());
    EXPECT_EQ(silent.http(unknownPairing).status, 404);
    EXPECT_EQ(silent.http(unknownPairing).status, 404) << "kept alive between requests";
    EXPECT_TRUE(silent.waitClosed(20s));
    EXPECT_TRUE(mute.waitClosed(20s)) << "a connection that sends no request";

    ServerLimits two;
    two.connectionsTotal = 2;
    LocalRelay fullRelay({}, &QDateTime::currentDateTimeUtc, 10s, two);
    auto first = std::make_unique<RawConnection>("127.0.0.1", fullRelay.port());
    RawConnection second("127.0.0.1", fullRelay.port());
    ASSERT_EQ(first->http(unknownPairing).status, 404);
    ASSERT_EQ(second.http(unknownPairing).status, 404);
    RawConnection third("127.0.0.1", fullRelay.port());
    EXPECT_EQ(third.http(unknownPairing).status, 0) << "refused at accept";
    EXPECT_EQ(first->http(unknownPairing).status, 404);
    EXPECT_EQ(second.http(unknownPairing).status, 404);

    // A leaving client frees its place; the relay may see the newcomer before the goodbye.
    first.reset();
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    int status = 0;
    while (status == 0 && std::chrono::steady_clock::now() < deadline)
        status = RawConnection("127.0.0.1", fullRelay.port()).http(unknownPairing, 2s).status;
    EXPECT_EQ(status, 404);
}

TEST(RelayServer, KeysClientsByIpv4AddressOrIpv6Slash64AndBelievesOnlyTrustedProxies)
{
    const json::value table = fixture("client-addresses.json");
    const auto ip = [](const json::value &text) { return boost::asio::ip::make_address(text.as_string().c_str()); };
    for (const char *list : {"sameKey", "otherKey"})
        for (const auto &pair : table.at(list).as_array())
            EXPECT_EQ(clientKey(ip(pair.at(0))) == clientKey(ip(pair.at(1))), list == std::string("sameKey")) << pair;
    const std::vector proxies{boost::asio::ip::make_address("10.0.0.1"), boost::asio::ip::make_address("10.0.0.2")};
    for (const auto &row : table.at("clients").as_array())
        EXPECT_EQ(clientAddress(ip(row.at(0)), row.at(1).as_string(), proxies), ip(row.at(2))) << row;
}

} // namespace
} // namespace orvane::test
