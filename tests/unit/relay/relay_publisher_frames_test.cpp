// RelayPublisher against a scripted relay that says what no real relay would.
#include "relay_test_support.h"

#include "model/date_formatting.h"
#include "relay/device_name.h"

#include <gtest/gtest.h>

#include <QWebSocketServer>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

namespace orvane::test {
namespace {

const PairingCredentials credentials{"5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D", std::string(40, 't')};

boost::json::object parsed(const QByteArray &frame)
{
    return boost::json::parse(frame.toStdString()).as_object();
}

class ScriptedRelay : public testing::Test {
protected:
    void SetUp() override
    {
        publisher.connect(credentials);
        ASSERT_TRUE(waitUntil([this] { return !received.isEmpty(); })) << "authenticate";
        events.connections.clear();
    }

    QUrl listen()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QWebSocketServer::newConnection, [this] {
            sockets.emplace_back(server.nextPendingConnection())->setParent(nullptr);
            QObject::connect(sockets.back().get(), &QWebSocket::textMessageReceived,
                             [this](const QString &text) { received.append(text.toUtf8()); });
            mostOpen = std::max(mostOpen, openCount());
        });
        return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()));
    }
    int openCount() const
    {
        return std::ranges::count_if(sockets, [](const auto &socket) { return socket->state() == QAbstractSocket::ConnectedState; });
    }
    void sendText(const QByteArray &utf8) { sockets.back()->sendTextMessage(QString::fromUtf8(utf8)); }
    void authenticated()
    {
        sendText(R"({"type":"authenticated"})");
        ASSERT_TRUE(waitUntil([this] { return events.authenticated(); }));
    }
    // An error frame as a marker: once it is reported, everything sent before was handled.
    void settle()
    {
        sendText(R"({"type":"error","message":"marker"})");
        ASSERT_TRUE(waitUntil([this] { return !events.errors.empty() && events.errors.back() == "marker"; }));
        events.errors.pop_back();
    }

    QWebSocketServer server{"scripted relay", QWebSocketServer::NonSecureMode};
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    QList<QByteArray> received;
    int mostOpen = 0;
    RelayPublisher publisher{listen(), quickTiming(40ms)};
    PublisherEvents events{publisher};
};

TEST_F(ScriptedRelay, AuthenticatesWithTokenAndDeviceNameThenSendsHeartbeats)
{
    EXPECT_EQ(sockets.back()->requestUrl().path(), QString("/v1/channels/") + credentials.channelId.c_str() + "/connect");
    EXPECT_EQ(received.front(), QByteArray::fromStdString(boost::json::serialize(boost::json::object{
                                    {"type", "authenticate"}, {"role", "publisher"},
                                    {"token", credentials.publisherToken}, {"deviceName", DeviceName::localized()}})));
    ASSERT_TRUE(waitUntil([this] { return received.size() >= 3; }));
    for (const QByteArray &frame : {received[1], received[2]}) {
        const auto heartbeat = parsed(frame);
        EXPECT_EQ(heartbeat.size(), 2u);
        EXPECT_EQ(heartbeat.at("type"), "heartbeat");
        EXPECT_EQ(heartbeat.at("sentAt").as_string().size(), 24u) << "milliseconds and Z";
        EXPECT_TRUE(DateFormatting::parseIso(heartbeat.at("sentAt").as_string()));
    }
}

TEST_F(ScriptedRelay, ActsOnTheInboundTableAndIgnoresEverythingElse)
{
    const auto sized = [](qsizetype size, char fill) {
        return R"({"type":"command","command":{"id":")" + QByteArray(size - 38, fill) + R"("}})";
    };
    const struct {
        QByteArray frame;
        std::vector<std::string> errors;
        std::optional<boost::json::object> command;
        bool binary = false;
    } rows[] = {
        {R"({"type":"error","message":"Channel full"})", {"Channel full"}, {}},
        {R"({"type":"error"})", {"Relay error"}, {}},
        {R"({"type":"error","message":5})", {"Relay error"}, {}},
        {R"({"type":"command","command":{"id":"x"}})", {}, boost::json::object{{"id", "x"}}},
        {R"({"type":"command","command":"stop"})", {}, {}},
        {R"({"type":"surprise","command":{"id":"x"}})", {}, {}},
        {R"({"type":7})", {}, {}},
        {R"({"type":"command","command":{"id":)", {}, {}},
        {R"({"type":"command","command":{"id":"binary"}})", {}, boost::json::object{{"id", "binary"}}, true},
        // Decoding with replacement characters would make this a command for "b\uFFFDad".
        {"{\"type\":\"command\",\"command\":{\"id\":\"b\xFF" "ad\"}}", {}, {}, true},
        {sized(262'145, 'b'), {}, {}},
        {sized(262'144, 'a'), {}, boost::json::object{{"id", std::string(262'144 - 38, 'a')}}},
    };
    for (const auto &row : rows) {
        events.errors.clear();
        events.commands.clear();
        row.binary ? void(sockets.back()->sendBinaryMessage(row.frame)) : sendText(row.frame);
        settle();
        EXPECT_EQ(events.errors, row.errors) << row.frame.left(60).toStdString();
        EXPECT_EQ(events.commands, row.command ? std::vector{*row.command} : std::vector<boost::json::object>())
            << row.frame.left(60).toStdString();
    }
    authenticated();
    EXPECT_EQ(openCount(), 1) << "no row, not even an over-long one, ended the connection";
}

TEST_F(ScriptedRelay, SendsOutboundMessagesUpTo262144Bytes)
{
    authenticated();
    GlassesSnapshot snapshot;
    snapshot.activeThreadId = "";
    const auto frameSize = [&] {
        return boost::json::serialize(boost::json::object{{"type", "snapshot"}, {"snapshot", boost::json::value_from(snapshot)}}).size();
    };
    snapshot.activeThreadId = std::string(262'145 - frameSize(), 'o');
    ASSERT_EQ(frameSize(), 262'145u);
    try {
        publisher.send(snapshot);
        ADD_FAILURE() << "an over-long message was sent";
    } catch (const RelayError &error) {
        EXPECT_STREQ(error.what(), "The relay returned an unsupported response.");
    }
    snapshot.activeThreadId->pop_back();
    publisher.send(snapshot);
    const auto isSnapshot = [](const QByteArray &frame) { return frame.startsWith(R"({"type":"snapshot")"); };
    ASSERT_TRUE(waitUntil([&] { return std::ranges::any_of(received, isSnapshot); }));
    EXPECT_EQ(std::ranges::count_if(received, isSnapshot), 1);
    EXPECT_EQ(std::ranges::find_if(received, isSnapshot)->size(), 262'144);
}

TEST_F(ScriptedRelay, OneLostConnectionSchedulesOneReconnect)
{
    // An abort makes Qt report an error and then a disconnect for the same loss; a close only the latter.
    for (const bool abort : {true, false, true}) {
        events.connections.clear();
        events.errors.clear();
        const std::size_t before = sockets.size();
        abort ? sockets.back()->abort() : sockets.back()->close();
        ASSERT_TRUE(waitUntil([&] { return sockets.size() > before && openCount() == 1; }));
        authenticated();
        EXPECT_EQ(events.connections, (std::vector{std::pair(false, 0), std::pair(true, 0)}));
        EXPECT_EQ(events.errors.size(), abort ? 1u : 0u);
    }
    // A second reconnect would have opened by now, at the same short delay.
    EXPECT_FALSE(waitUntil([this] { return sockets.size() > 4; }, 500ms));
    EXPECT_EQ(mostOpen, 1);
}

TEST_F(ScriptedRelay, AStaleReconnectTimerOpensNothing)
{
    for (const bool connectAgain : {false, true}) {
        sockets.back()->close();
        ASSERT_TRUE(waitUntil([this] { return !events.connections.empty(); }));
        events.connections.clear();
        const std::size_t before = sockets.size();
        if (connectAgain) {
            publisher.connect(credentials);
            ASSERT_TRUE(waitUntil([&] { return sockets.size() == before + 1; }));
        } else {
            publisher.disconnect(true);
            EXPECT_EQ(events.connections.back(), std::pair(false, 1)) << "the scheduled attempt was counted";
        }
        // The lost connection's timer (50 ms) fires in this window.
        EXPECT_FALSE(waitUntil([&] { return sockets.size() > before + connectAgain; }, 300ms));
        if (!connectAgain)
            publisher.connect(credentials);
        ASSERT_TRUE(waitUntil([this] { return openCount() == 1; }));
    }
}

TEST(RelayPublisherAddress, AnUnusableBaseUrlIsReportedOnceAndNeverRetried)
{
    RelayPublisher publisher(QUrl("relay.example.com"), quickTiming());
    PublisherEvents events(publisher);
    publisher.connect(credentials);
    EXPECT_FALSE(waitUntil([&] { return events.errors.size() > 1 || events.connections.size() > 1; }, 200ms));
    EXPECT_EQ(events.errors, std::vector<std::string>{"The relay URL is invalid."});
}

} // namespace
} // namespace orvane::test
