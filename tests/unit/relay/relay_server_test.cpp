// orvane-relay's HTTP endpoints and WebSocket hub, run inside the test process on loopback.
#include "relay_test_support.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace orvane::test {
namespace {

QJsonObject json(const QByteArray &bytes)
{
    return QJsonDocument::fromJson(bytes).object();
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

HttpAnswer complete(LocalRelay &relay, const QString &pin)
{
    return httpRequest("POST", relay.url("/v1/pairings/complete"), compact({{"pin", pin}}),
                       {{"Content-Type", "application/json"}});
}

HttpAnswer revoke(LocalRelay &relay, const std::string &channelId, const QByteArray &authorization)
{
    return httpRequest("POST", relay.url(QStringLiteral("/v1/channels/%1/revoke").arg(QString::fromStdString(channelId))),
                       {}, {{"Authorization", authorization}});
}

QUrl channelSocket(LocalRelay &relay, const PairingCredentials &credentials)
{
    return socketUrl(relay.baseUrl(), QString::fromStdString(credentials.channelId));
}

TEST(RelayServerPairing, IssuesAPinThatPairsOnceAndHandsTheGlassesTheirTokenOnce)
{
    LocalRelay relay;
    const HttpAnswer issued = httpRequest("POST", relay.url("/v1/pairings"));
    ASSERT_EQ(issued.status, 201);
    const QJsonObject pin = json(issued.body);
    EXPECT_TRUE(QRegularExpression("^[0-9]{6}$").match(pin.value("pin").toString()).hasMatch());
    EXPECT_FALSE(QUuid::fromString(pin.value("pairingId").toString()).isNull());
    EXPECT_TRUE(QDateTime::fromString(pin.value("expiresAt").toString(), Qt::ISODateWithMs).isValid());

    const QUrl status = relay.url("/v1/pairings/" + pin.value("pairingId").toString());
    EXPECT_EQ(json(httpRequest("GET", status).body).value("status").toString(), "pending");

    const HttpAnswer completed = complete(relay, pin.value("pin").toString());
    ASSERT_EQ(completed.status, 200);
    const QJsonObject channel = json(completed.body);
    EXPECT_FALSE(QUuid::fromString(channel.value("channelId").toString()).isNull());
    EXPECT_GE(channel.value("publisherToken").toString().size(), 32);

    const QJsonObject glasses = json(httpRequest("GET", status).body);
    EXPECT_EQ(glasses.value("status").toString(), "completed");
    EXPECT_EQ(glasses.value("channelId"), channel.value("channelId"));
    EXPECT_GE(glasses.value("subscriberToken").toString().size(), 32);
    EXPECT_NE(glasses.value("subscriberToken"), channel.value("publisherToken"));
    EXPECT_EQ(httpRequest("GET", status).status, 404);

    const HttpAnswer again = complete(relay, pin.value("pin").toString());
    EXPECT_EQ(again.status, 404);
    EXPECT_EQ(json(again.body).value("message").toString(), "This PIN is unknown or has expired.");
}

// Arabic-Indic digits and rate limiting over HTTP: pairing_calls_test; their rules: pin_book_test.

TEST(RelayServerPairing, RefusesMalformedRequestsAndUnknownAddresses)
{
    LocalRelay relay;
    EXPECT_EQ(httpRequest("POST", relay.url("/v1/pairings/complete"), "not json").status, 400);
    EXPECT_EQ(httpRequest("POST", relay.url("/v1/pairings/complete"), R"({"pin":123456})").status, 400);
    EXPECT_EQ(httpRequest("GET", relay.url("/v1/nothing")).status, 404);
    EXPECT_EQ(httpRequest("GET", relay.url("/v1/pairings")).status, 404);
}

TEST(RelayServerRevoke, NeedsThePublisherTokenAndClosesThePublishersSockets)
{
    LocalRelay relay;
    const auto pairing = relay.pair();
    TestSocket publisher;
    ASSERT_TRUE(publisher.authenticate(channelSocket(relay, pairing.credentials), "publisher",
                                       QString::fromStdString(pairing.credentials.publisherToken)));

    EXPECT_EQ(revoke(relay, pairing.credentials.channelId, "Bearer wrong").status, 401);
    EXPECT_EQ(revoke(relay, pairing.credentials.channelId, pairing.subscriberToken.toUtf8().prepend("Bearer ")).status, 401);
    EXPECT_EQ(revoke(relay, "00000000-0000-4000-8000-000000000000", "Bearer x").status, 404);
    EXPECT_EQ(revoke(relay, pairing.credentials.channelId,
                     "Bearer " + QByteArray::fromStdString(pairing.credentials.publisherToken)).status, 204);

    const auto told = publisher.next();
    ASSERT_TRUE(told);
    EXPECT_EQ(json(*told).value("type").toString(), "revoked");
    EXPECT_TRUE(publisher.waitClosed());
    TestSocket late;
    EXPECT_FALSE(late.authenticate(channelSocket(relay, pairing.credentials), "publisher",
                                   QString::fromStdString(pairing.credentials.publisherToken)));
}

TEST(RelayServerSockets, RefusesWrongTokensAndRolesWithAnErrorAndAClose)
{
    LocalRelay relay;
    const auto pairing = relay.pair();
    const QString publisherToken = QString::fromStdString(pairing.credentials.publisherToken);
    const struct {
        QByteArray first;
    } rows[] = {
        {compact({{"type", "authenticate"}, {"role", "publisher"}, {"token", "wrong"}})},
        {compact({{"type", "authenticate"}, {"role", "publisher"}, {"token", pairing.subscriberToken}})},
        {compact({{"type", "authenticate"}, {"role", "subscriber"}, {"token", publisherToken}})},
        {compact({{"type", "authenticate"}, {"role", "admin"}, {"token", publisherToken}})},
        {compact({{"type", "authenticate"}, {"role", "publisher"}})},
        {compact({{"type", "snapshot"}, {"snapshot", QJsonObject()}})},
        {"not json"},
    };
    for (const auto &row : rows) {
        TestSocket socket;
        ASSERT_TRUE(socket.open(channelSocket(relay, pairing.credentials)));
        socket.send(row.first);
        const auto answer = socket.next();
        ASSERT_TRUE(answer) << row.first.toStdString();
        EXPECT_EQ(json(*answer).value("type").toString(), "error") << row.first.toStdString();
        EXPECT_FALSE(json(*answer).value("message").toString().isEmpty());
        EXPECT_TRUE(socket.waitClosed()) << row.first.toStdString();
    }
}

TEST(RelayServerSockets, ClosesASocketThatNeverAuthenticates)
{
    LocalRelay relay({}, &QDateTime::currentDateTimeUtc, std::chrono::milliseconds(100));
    const auto pairing = relay.pair();
    TestSocket silent;
    ASSERT_TRUE(silent.open(channelSocket(relay, pairing.credentials)));
    const auto answer = silent.next();
    ASSERT_TRUE(answer);
    EXPECT_EQ(json(*answer).value("message").toString(), "Authenticate first.");
    EXPECT_TRUE(silent.waitClosed());

    TestSocket prompt;
    ASSERT_TRUE(prompt.authenticate(channelSocket(relay, pairing.credentials),
                                    "subscriber", pairing.subscriberToken));
    EXPECT_FALSE(prompt.waitClosed(std::chrono::milliseconds(300))) << "an authenticated socket stays";
}

TEST(RelayServerSockets, ClosesSocketsOnUnknownPathsAndChannels)
{
    LocalRelay relay;
    const auto pairing = relay.pair();
    const QString known = QString::fromStdString(pairing.credentials.channelId);
    for (const QString &path : {QStringLiteral("/"), QStringLiteral("/v1/channels/") + known,
                               QStringLiteral("/v1/channels/") + known + QStringLiteral("/connect/more"),
                               QStringLiteral("/v1/channels/11111111-2222-4333-8444-555555555555/connect")}) {
        QUrl url = relay.baseUrl();
        url.setScheme("ws");
        url.setPath(path);
        TestSocket socket;
        socket.open(url);
        EXPECT_TRUE(socket.waitClosed()) << path.toStdString();
    }
}

TEST(RelayServerSockets, ForwardsBetweenPublisherAndSubscribers)
{
    LocalRelay relay;
    const auto pairing = relay.pair();
    const QUrl url = channelSocket(relay, pairing.credentials);
    TestSocket publisher;
    ASSERT_TRUE(publisher.authenticate(url, "publisher", QString::fromStdString(pairing.credentials.publisherToken)));
    const QByteArray snapshot = R"({"type":"snapshot","snapshot":{"sequence":1}})";
    publisher.send(snapshot);

    // A subscriber that comes later first gets the last snapshot.
    TestSocket subscriber;
    ASSERT_TRUE(subscriber.authenticate(url, "subscriber", pairing.subscriberToken));
    EXPECT_EQ(subscriber.next(), snapshot);

    // Heartbeats and unknown types go nowhere and are not answered; events are forwarded as sent.
    publisher.send(R"({"type":"heartbeat","sentAt":"2026-03-04T05:06:07.089Z"})");
    publisher.send(R"({"type":"mystery"})");
    publisher.send(R"({"type":"event","event":{"type":"command_result"}})");
    EXPECT_EQ(subscriber.next(), R"({"type":"event","event":{"type":"command_result"}})");

    subscriber.send(R"({"type":"mystery"})");
    subscriber.send(R"({"type":"command","command":{"id":"c1","type":"stop_turn"}})");
    EXPECT_EQ(publisher.next(), R"({"type":"command","command":{"id":"c1","type":"stop_turn"}})");
}

TEST(RelayServerSockets, RefusesFramesOverTheLimitAndKeepsTheConnection)
{
    LocalRelay relay;
    const auto pairing = relay.pair();
    const QUrl url = channelSocket(relay, pairing.credentials);
    TestSocket publisher;
    ASSERT_TRUE(publisher.authenticate(url, "publisher", QString::fromStdString(pairing.credentials.publisherToken)));
    TestSocket subscriber;
    ASSERT_TRUE(subscriber.authenticate(url, "subscriber", pairing.subscriberToken));

    const QByteArray head = R"({"type":"snapshot","snapshot":{"pad":")";
    const QByteArray tail = R"("}})";
    const auto sized = [&](qsizetype size) { return head + QByteArray(size - head.size() - tail.size(), 'x') + tail; };
    publisher.send(sized(262'145));
    const auto refused = publisher.next();
    ASSERT_TRUE(refused);
    EXPECT_EQ(json(*refused).value("type").toString(), "error");
    publisher.send(sized(262'144));
    const auto forwarded = subscriber.next();
    ASSERT_TRUE(forwarded);
    EXPECT_EQ(forwarded->size(), 262'144);
}

TEST(RelayServerRestart, KeepsChannelsAndTokensAcrossARestart)
{
    LocalRelay relay;
    const auto pairing = relay.pair();
    relay.stop();
    relay.start();
    TestSocket publisher;
    EXPECT_TRUE(publisher.authenticate(channelSocket(relay, pairing.credentials), "publisher",
                                       QString::fromStdString(pairing.credentials.publisherToken)));
    TestSocket subscriber;
    EXPECT_TRUE(subscriber.authenticate(channelSocket(relay, pairing.credentials), "subscriber", pairing.subscriberToken));
}

} // namespace
} // namespace orvane::test
