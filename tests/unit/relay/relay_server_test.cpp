// orvane-relay in the test process on loopback: pairing through RelayPublisher's call on a
// clock the test moves, and the socket hub's refusals; revoking is in relay_publisher_test.
#include "relay_test_support.h"

#include <await_task.h>
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace orvane::test {
namespace {

QJsonObject json(const std::optional<QByteArray> &bytes)
{
    return QJsonDocument::fromJson(bytes.value_or("")).object();
}

TEST(RelayServer, APinPairsOnceInAnyScriptWithinFiveMinutesUntilTooManyWrongOnes)
{
    QDateTime now = QDateTime::currentDateTimeUtc();
    LocalRelay relay({300s, 3, 60s}, [&] { return now; });
    RelayPublisher publisher(relay.baseUrl(), quickTiming());
    const auto pairWith = [&](const QString &pin) -> std::string {
        try {
            return awaitTask(publisher.completePairing(pin)).channelId;
        } catch (const RelayError &error) {
            return error.kind() == RelayError::Kind::pairingRejected ? error.what() : "unexpected";
        }
    };
    const QJsonObject issued = json(httpRequest("POST", relay.url("/v1/pairings")).body);
    const QString pin = issued.value("pin").toString();
    EXPECT_TRUE(QRegularExpression("^[0-9]{6}$").match(pin).hasMatch()) << pin.toStdString();
    EXPECT_EQ(issued.value("expiresAt"), now.addSecs(300).toString(Qt::ISODateWithMs));
    const QUrl status = relay.url("/v1/pairings/" + issued.value("pairingId").toString());
    EXPECT_EQ(json(httpRequest("GET", status).body).value("status"), "pending");

    now = now.addSecs(299);
    const std::string channelId = pairWith(pin.left(3) + " - " + pin.mid(3));
    const QJsonObject glasses = json(httpRequest("GET", status).body);
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
    now = now.addSecs(300);
    EXPECT_EQ(pairWith(late), "This PIN is unknown or has expired.");
    EXPECT_EQ(httpRequest("POST", relay.url("/v1/pairings/complete"), R"({"pin":123456})").status, 400);

    // The right PIN is refused too once the address is limited, or guessing would go on.
    pairWith("000000");
    pairWith("000001");
    EXPECT_EQ(pairWith(relay.issuePin()), "Too many wrong PINs. Wait a minute and try again.");
    now = now.addSecs(61);
    EXPECT_EQ(pairWith(relay.issuePin()).size(), 36u);
}

TEST(RelayServer, RefusesWrongFirstMessagesUnknownPathsAndFramesOverTheLimit)
{
    LocalRelay relay({}, &QDateTime::currentDateTimeUtc, 1s);
    const auto pairing = relay.pair();
    const QString publisherToken = pairing.credentials.publisherToken.c_str();
    const auto authenticate = [](const QString &role, const QString &token) {
        return QJsonDocument(QJsonObject{{"type", "authenticate"}, {"role", role}, {"token", token}}).toJson();
    };
    for (const QByteArray &first : {authenticate("publisher", pairing.subscriberToken), authenticate("subscriber", publisherToken),
                                    authenticate("admin", publisherToken), QByteArray(R"({"type":"snapshot"})"), QByteArray()}) {
        TestSocket socket;
        ASSERT_TRUE(socket.open(relay.socketUrl(pairing)));
        if (!first.isEmpty())
            socket.send(first);
        EXPECT_EQ(json(socket.next()).value("type"), "error") << first.toStdString();
        EXPECT_TRUE(socket.waitClosed()) << first.toStdString();
    }
    const QString channel = "/v1/channels/" + QString::fromStdString(pairing.credentials.channelId);
    for (const QString &path : {QString("/"), channel, channel + "/connect/more", QString("/v1/channels/1-2-3/connect")}) {
        TestSocket socket;
        socket.open(socketUrl(relay.baseUrl(), "").resolved(QUrl(path)));
        EXPECT_TRUE(socket.waitClosed()) << path.toStdString();
    }

    TestSocket publisher, subscriber;
    ASSERT_TRUE(publisher.authenticate(relay.socketUrl(pairing), "publisher", publisherToken));
    ASSERT_TRUE(subscriber.authenticate(relay.socketUrl(pairing), "subscriber", pairing.subscriberToken));
    EXPECT_EQ(json(subscriber.next()).value("type"), "publisher");
    const QByteArray head = R"({"type":"event","pad":")";
    const auto sized = [&](qsizetype size) { return head + QByteArray(size - head.size() - 2, 'x') + "\"}"; };
    publisher.send(R"({"type":"mystery"})");
    publisher.send(sized(262'145));
    EXPECT_EQ(json(publisher.next()).value("message"), "The message is larger than 262,144 bytes.") << "mystery is not answered";
    publisher.send(sized(262'144));
    EXPECT_EQ(subscriber.next().value_or("").size(), 262'144) << "the connection stays and mystery went nowhere";
    EXPECT_FALSE(subscriber.waitClosed(1200ms)) << "the authentication deadline spares authenticated sockets";
}

TEST(RelayServer, KeysClientsByIpv4AddressOrIpv6Slash64AndBelievesOnlyTrustedProxies)
{
    const auto ip = [](const char *text) { return boost::asio::ip::make_address(text); };
    const std::vector<std::pair<const char *, const char *>> sameClient = {
        {"2001:db8:1:2:aaaa::1", "2001:db8:1:2:bbbb:cccc:dddd:9"}, {"::ffff:192.0.2.1", "192.0.2.1"}};
    for (const auto &[one, other] : sameClient)
        EXPECT_EQ(clientKey(ip(one)), clientKey(ip(other))) << one;
    EXPECT_NE(clientKey(ip("2001:db8:1:2::1")), clientKey(ip("2001:db8:1:3::1")));
    EXPECT_NE(clientKey(ip("192.0.2.1")), clientKey(ip("192.0.2.2")));

    const std::vector<IpAddress> proxies = {ip("10.0.0.1"), ip("10.0.0.2")};
    const std::vector<std::tuple<const char *, const char *, const char *>> cases = {
        {"10.0.0.1", "203.0.113.7", "203.0.113.7"},
        {"10.0.0.1", "198.51.100.1, 203.0.113.7, 10.0.0.2", "203.0.113.7"}, // through two proxies
        {"192.0.2.5", "203.0.113.7", "192.0.2.5"},                          // not a proxy of ours
        {"10.0.0.1", "", "10.0.0.1"},
        {"10.0.0.1", "unknown", "10.0.0.1"},
        {"::ffff:10.0.0.1", " 2001:db8::7 ", "2001:db8::7"},
    };
    for (const auto &[peer, forwarded, expected] : cases)
        EXPECT_EQ(clientAddress(ip(peer), forwarded, proxies), ip(expected)) << peer << " / " << forwarded;
}

} // namespace
} // namespace orvane::test
