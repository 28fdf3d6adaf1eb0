// orvane-relay's PIN book, and its endpoints and socket hub in the test process on loopback.
#include "relay_test_support.h"

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

TEST(PinBook, PinsAreSixDigitsUsedOnceWithinFiveMinutesAndLimitedPerAddress)
{
    QDateTime now = QDateTime::currentDateTimeUtc();
    PinBook book({300s, 3, 60s}, [&] { return now; });
    const auto first = book.issue();
    const auto second = book.issue();
    EXPECT_TRUE(QRegularExpression("^[0-9]{6}$").match(first.pin).hasMatch());
    EXPECT_NE(first.pin, second.pin);
    EXPECT_EQ(first.expiresAt, now.addSecs(300));
    EXPECT_EQ(book.redeem(first.pin, "a").outcome, PinBook::Outcome::accepted);
    EXPECT_EQ(book.redeem(first.pin, "a").outcome, PinBook::Outcome::unknown);
    now = now.addSecs(299);
    EXPECT_EQ(book.redeem(second.pin, "b").outcome, PinBook::Outcome::accepted);
    const auto late = book.issue();
    now = now.addSecs(300);
    EXPECT_EQ(book.redeem(late.pin, "c").outcome, PinBook::Outcome::unknown) << "expired";

    const auto guessed = book.issue();
    for (int i = 0; i < 3; ++i)
        book.redeem("wrong", "d");
    // The right PIN is refused too once the address is limited, or guessing would go on.
    EXPECT_EQ(book.redeem(guessed.pin, "d").outcome, PinBook::Outcome::rateLimited);
    now = now.addSecs(59);
    EXPECT_EQ(book.redeem(guessed.pin, "d").outcome, PinBook::Outcome::rateLimited);
    EXPECT_EQ(book.redeem(guessed.pin, "e").outcome, PinBook::Outcome::accepted) << "another address";
    now = now.addSecs(2);
    EXPECT_EQ(book.redeem(book.issue().pin, "d").outcome, PinBook::Outcome::accepted);
}

TEST(PinBook, MapsEveryScriptsDecimalDigitsToAscii)
{
    EXPECT_EQ(PinBook::asciiDigits("\u0661\u0662\u0663\u06F4\u06F5\u06F6"), "123456"); // Arabic-Indic, Persian
    EXPECT_EQ(PinBook::asciiDigits("\u0967\u0968-\uFF13\u00B3"), "12-3\u00B3");          // a superscript is no digit
}

TEST(RelayServer, IssuesAPinThatPairsOnceAndHandsTheGlassesTheirTokenOnce)
{
    LocalRelay relay;
    const HttpAnswer issued = httpRequest("POST", relay.url("/v1/pairings"));
    ASSERT_EQ(issued.status, 201);
    const QJsonObject pin = json(issued.body);
    EXPECT_TRUE(QDateTime::fromString(pin.value("expiresAt").toString(), Qt::ISODateWithMs).isValid());
    const QUrl status = relay.url("/v1/pairings/" + pin.value("pairingId").toString());
    EXPECT_EQ(json(httpRequest("GET", status).body).value("status"), "pending");

    const auto complete = [&] {
        return httpRequest("POST", relay.url("/v1/pairings/complete"), "{\"pin\":\"" + pin.value("pin").toString().toUtf8() + "\"}");
    };
    const HttpAnswer completed = complete();
    ASSERT_EQ(completed.status, 200);
    const QJsonObject channel = json(completed.body);
    const QJsonObject glasses = json(httpRequest("GET", status).body);
    EXPECT_EQ(glasses.value("status"), "completed");
    EXPECT_EQ(glasses.value("channelId"), channel.value("channelId"));
    EXPECT_GE(glasses.value("subscriberToken").toString().size(), 32);
    EXPECT_NE(glasses.value("subscriberToken"), channel.value("publisherToken"));
    EXPECT_EQ(httpRequest("GET", status).status, 404);
    EXPECT_EQ(complete().status, 404);

    EXPECT_EQ(httpRequest("POST", relay.url("/v1/pairings/complete"), R"({"pin":123456})").status, 400);
    EXPECT_EQ(httpRequest("GET", relay.url("/v1/pairings")).status, 404);
}

TEST(RelayServer, RevokeNeedsThePublisherTokenAndEndsTheChannel)
{
    LocalRelay relay;
    const auto pairing = relay.pair();
    TestSocket publisher;
    ASSERT_TRUE(publisher.authenticate(relay.socketUrl(pairing), "publisher", pairing.credentials.publisherToken.c_str()));
    const auto revoke = [&](const std::string &channel, const QByteArray &token) {
        return httpRequest("POST", relay.url(QString::fromStdString("/v1/channels/" + channel + "/revoke")), {},
                           {{"Authorization", "Bearer " + token}}).status;
    };
    EXPECT_EQ(revoke(pairing.credentials.channelId, pairing.subscriberToken.toUtf8()), 401);
    EXPECT_EQ(revoke("00000000-0000-4000-8000-000000000000", "x"), 404);
    EXPECT_EQ(revoke(pairing.credentials.channelId, pairing.credentials.publisherToken.c_str()), 204);
    EXPECT_EQ(json(publisher.next()).value("type"), "revoked");
    EXPECT_TRUE(publisher.waitClosed());
    TestSocket late;
    EXPECT_FALSE(late.authenticate(relay.socketUrl(pairing), "publisher", pairing.credentials.publisherToken.c_str()));
}

TEST(RelayServer, AnswersAWrongFirstMessageWithAnErrorAndACloseAndClosesUnknownPaths)
{
    LocalRelay relay({}, &QDateTime::currentDateTimeUtc, 300ms);
    const auto pairing = relay.pair();
    const QString publisherToken = pairing.credentials.publisherToken.c_str();
    const auto authenticate = [](const QString &role, const QString &token) {
        return QJsonDocument(QJsonObject{{"type", "authenticate"}, {"role", role}, {"token", token}}).toJson();
    };
    for (const QByteArray &first : {authenticate("publisher", pairing.subscriberToken),
                                    authenticate("subscriber", publisherToken), authenticate("admin", publisherToken),
                                    QByteArray(R"({"type":"snapshot","snapshot":{}})"), QByteArray()}) {
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
    for (const QString &path : {QString("/"), channel, channel + "/connect/more",
                                QString("/v1/channels/11111111-2222-4333-8444-555555555555/connect")}) {
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
    publisher.send(R"({"type":"event","event":{"type":"command_result"}})");
    EXPECT_EQ(subscriber.next(), R"({"type":"event","event":{"type":"command_result"}})");
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
