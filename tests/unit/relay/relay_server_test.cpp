// orvane-relay in the test process on loopback: pairing (with RelayPublisher's call), revoking,
// and its socket hub; and the PIN book's clock-bound rules.
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

std::string pairWith(RelayPublisher &publisher, const QString &pin)
{
    try {
        return awaitTask(publisher.completePairing(pin)).channelId;
    } catch (const RelayError &error) {
        return error.kind() == RelayError::Kind::pairingRejected ? error.what() : "unexpected";
    }
}

TEST(RelayServer, APinPairsOnceInAnyScriptAndTheGlassesCollectTheirTokenOnce)
{
    LocalRelay relay({300s, 3, 60s});
    RelayPublisher publisher(relay.baseUrl(), quickTiming());
    const HttpAnswer issued = httpRequest("POST", relay.url("/v1/pairings"));
    ASSERT_EQ(issued.status, 201);
    const QString pin = json(issued.body).value("pin").toString();
    EXPECT_TRUE(QRegularExpression("^[0-9]{6}$").match(pin).hasMatch()) << pin.toStdString();
    EXPECT_TRUE(QDateTime::fromString(json(issued.body).value("expiresAt").toString(), Qt::ISODateWithMs).isValid());
    const QUrl status = relay.url("/v1/pairings/" + json(issued.body).value("pairingId").toString());
    EXPECT_EQ(json(httpRequest("GET", status).body).value("status"), "pending");

    const std::string channelId = pairWith(publisher, pin.left(3) + " - " + pin.mid(3));
    const QJsonObject glasses = json(httpRequest("GET", status).body);
    EXPECT_EQ(glasses.value("status"), "completed");
    EXPECT_EQ(glasses.value("channelId").toString().toStdString(), channelId);
    EXPECT_GE(glasses.value("subscriberToken").toString().size(), 32);
    EXPECT_EQ(httpRequest("GET", status).status, 404);
    EXPECT_EQ(pairWith(publisher, pin), "This PIN is unknown or has expired.");

    QString arabicIndic;
    for (const QChar digit : relay.issuePin())
        arabicIndic.append(QChar(0x0660 + digit.digitValue()));
    EXPECT_EQ(pairWith(publisher, arabicIndic).size(), 36u);
    EXPECT_EQ(httpRequest("POST", relay.url("/v1/pairings/complete"), R"({"pin":123456})").status, 400);
    EXPECT_EQ(httpRequest("GET", relay.url("/v1/pairings")).status, 404);
    pairWith(publisher, "000000");
    pairWith(publisher, "000001");
    EXPECT_EQ(pairWith(publisher, relay.issuePin()), "Too many wrong PINs. Wait a minute and try again.");
}

TEST(PinBook, APinExpiresAfterFiveMinutesAndALimitedAddressWaitsAMinute)
{
    QDateTime now = QDateTime::currentDateTimeUtc();
    PinBook book({300s, 3, 60s}, [&] { return now; });
    const auto early = book.issue(), late = book.issue();
    EXPECT_EQ(early.expiresAt, now.addSecs(300));
    now = now.addSecs(299);
    EXPECT_EQ(book.redeem(early.pin, "a").outcome, PinBook::Outcome::accepted);
    now = now.addSecs(1);
    EXPECT_EQ(book.redeem(late.pin, "a").outcome, PinBook::Outcome::unknown);

    const auto guessed = book.issue();
    for (int i = 0; i < 3; ++i)
        book.redeem("wrong", "b");
    // The right PIN is refused too once the address is limited, or guessing would go on.
    now = now.addSecs(59);
    EXPECT_EQ(book.redeem(guessed.pin, "b").outcome, PinBook::Outcome::rateLimited);
    EXPECT_EQ(book.redeem(guessed.pin, "c").outcome, PinBook::Outcome::accepted) << "another address";
    now = now.addSecs(2);
    EXPECT_EQ(book.redeem(book.issue().pin, "b").outcome, PinBook::Outcome::accepted);
}

TEST(RelayServer, RevokeNeedsThePublisherTokenAndEndsTheChannel)
{
    LocalRelay relay;
    const auto pairing = relay.pair();
    TestSocket publisher;
    ASSERT_TRUE(publisher.authenticate(relay.socketUrl(pairing), "publisher", pairing.credentials.publisherToken.c_str()));
    const auto revoke = [&](const std::string &channel, const QString &token) {
        return httpRequest("POST", relay.url(("/v1/channels/" + channel + "/revoke").c_str()), {},
                           {{"Authorization", "Bearer " + token.toUtf8()}}).status;
    };
    EXPECT_EQ(revoke(pairing.credentials.channelId, pairing.subscriberToken), 401);
    EXPECT_EQ(revoke("00000000-0000-4000-8000-000000000000", "x"), 404);
    EXPECT_EQ(revoke(pairing.credentials.channelId, pairing.credentials.publisherToken.c_str()), 204);
    EXPECT_EQ(json(publisher.next()).value("type"), "revoked");
    EXPECT_TRUE(publisher.waitClosed());
    EXPECT_FALSE(publisher.authenticate(relay.socketUrl(pairing), "publisher", pairing.credentials.publisherToken.c_str()));
}

TEST(RelayServer, AnswersAWrongFirstMessageWithAnErrorAndACloseAndClosesUnknownPaths)
{
    LocalRelay relay({}, &QDateTime::currentDateTimeUtc, 300ms);
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
    TestSocket prompt;
    ASSERT_TRUE(prompt.authenticate(relay.socketUrl(pairing), "subscriber", pairing.subscriberToken));
    EXPECT_FALSE(prompt.waitClosed(600ms)) << "the authentication deadline spares an authenticated socket";

    const QString channel = "/v1/channels/" + QString::fromStdString(pairing.credentials.channelId);
    for (const QString &path : {QString("/"), channel, channel + "/connect/more", QString("/v1/channels/1-2-3/connect")}) {
        TestSocket socket;
        socket.open(socketUrl(relay.baseUrl(), "").resolved(QUrl(path)));
        EXPECT_TRUE(socket.waitClosed()) << path.toStdString();
    }
}

TEST(RelayServer, ForwardsBetweenPublisherAndSubscribersWithinTheSizeLimit)
{
    LocalRelay relay;
    const auto pairing = relay.pair();
    TestSocket publisher, subscriber;
    ASSERT_TRUE(publisher.authenticate(relay.socketUrl(pairing), "publisher", pairing.credentials.publisherToken.c_str()));
    publisher.send(R"({"type":"snapshot","snapshot":{"sequence":1}})");
    ASSERT_TRUE(subscriber.authenticate(relay.socketUrl(pairing), "subscriber", pairing.subscriberToken));
    EXPECT_EQ(subscriber.next(), R"({"type":"snapshot","snapshot":{"sequence":1}})") << "a late subscriber gets the last snapshot";

    // Heartbeats and unknown types go nowhere and are not answered.
    publisher.send(R"({"type":"heartbeat","sentAt":"2026-03-04T05:06:07.089Z"})");
    publisher.send(R"({"type":"mystery"})");
    publisher.send(R"({"type":"event","event":{}})");
    EXPECT_EQ(subscriber.next(), R"({"type":"event","event":{}})");
    subscriber.send(R"({"type":"mystery"})");
    subscriber.send(R"({"type":"command","command":{"id":"c1"}})");
    EXPECT_EQ(publisher.next(), R"({"type":"command","command":{"id":"c1"}})");

    const QByteArray head = R"({"type":"event","pad":")";
    const auto sized = [&](qsizetype size) { return head + QByteArray(size - head.size() - 2, 'x') + "\"}"; };
    publisher.send(sized(262'145));
    EXPECT_EQ(json(publisher.next()).value("type"), "error");
    publisher.send(sized(262'144));
    EXPECT_EQ(subscriber.next().value_or("").size(), 262'144) << "the connection stays";
}

} // namespace
} // namespace orvane::test
