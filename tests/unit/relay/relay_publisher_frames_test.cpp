// RelayPublisher against a scripted relay that says what no real relay would: the inbound
// message table, the size ceiling both ways, and what goes out on the wire.
#include "publisher_events.h"
#include "relay_test_support.h"

#include "model/date_formatting.h"
#include "relay/device_name.h"
#include "relay/relay_messages.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

namespace orvane::test {
namespace {

const PairingCredentials credentials{"5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D", std::string(40, 't')};

boost::json::object parsed(const std::optional<QByteArray> &frame)
{
    if (!frame)
        return {};
    const auto json = boost::json::parse(std::string_view(frame->constData(), frame->size()));
    return json.is_object() ? json.get_object() : boost::json::object();
}

class ScriptedRelayTest : public testing::Test {
protected:
    void SetUp() override
    {
        publisher.connect(credentials);
        ASSERT_TRUE(relay.waitForConnections(1));
        ASSERT_TRUE(relay.waitForMessage(0)) << "authenticate";
        events.connections.clear();
    }

    void sendText(const QByteArray &utf8) { relay.latest().sendTextMessage(QString::fromUtf8(utf8)); }

    // Sends an error frame as a marker and waits for it: everything sent before has been handled.
    void settle()
    {
        sendText(R"({"type":"error","message":"marker"})");
        ASSERT_TRUE(waitUntil([this] { return !events.errors.empty() && events.errors.back() == "marker"; }));
        events.errors.pop_back();
    }

    ScriptedRelay relay;
    RelayPublisher publisher{relay.baseUrl(), quickTiming(std::chrono::milliseconds(40))};
    PublisherEvents events{publisher};
};

TEST_F(ScriptedRelayTest, AuthenticatesOnOpenWithTokenAndDeviceName)
{
    EXPECT_EQ(relay.latest().requestUrl().path(), QString("/v1/channels/") + credentials.channelId.c_str() + "/connect");
    const auto message = parsed(relay.received().front());
    EXPECT_EQ(message, (boost::json::object{{"type", "authenticate"},
                                            {"role", "publisher"},
                                            {"token", credentials.publisherToken},
                                            {"deviceName", DeviceName::localized()}}));
    EXPECT_EQ(relay.received().front().count(' '), 0) << "compact JSON";
}

TEST_F(ScriptedRelayTest, SendsHeartbeatsWhileConnected)
{
    const auto first = parsed(relay.waitForMessage(1));
    const auto second = parsed(relay.waitForMessage(2));
    for (const auto &heartbeat : {first, second}) {
        EXPECT_EQ(heartbeat.size(), 2u);
        EXPECT_EQ(heartbeat.at("type"), "heartbeat");
        const std::string sentAt(heartbeat.at("sentAt").as_string());
        EXPECT_TRUE(DateFormatting::parseIso(sentAt)) << sentAt;
        EXPECT_EQ(sentAt.size(), 24u) << "milliseconds and Z";
    }
}

TEST_F(ScriptedRelayTest, ActsOnTheInboundTableAndIgnoresEverythingElse)
{
    const struct {
        QByteArray frame;
        std::vector<std::string> errors;
        std::vector<boost::json::object> commands;
    } rows[] = {
        {R"({"type":"error","message":"Channel full"})", {"Channel full"}, {}},
        {R"({"type":"error"})", {"Relay error"}, {}},
        {R"({"type":"error","message":5})", {"Relay error"}, {}},
        {R"({"type":"command","command":{"id":"x"}})", {}, {{{"id", "x"}}}},
        {R"({"type":"command","command":"stop"})", {}, {}},
        {R"({"type":"command"})", {}, {}},
        {R"({"type":"surprise","command":{"id":"x"}})", {}, {}},
        {R"({"command":{"id":"x"}})", {}, {}},
        {R"({"type":7})", {}, {}},
        {R"(["command"])", {}, {}},
        {R"({"type":"command","command":{"id":)", {}, {}},
        {"", {}, {}},
    };
    for (const auto &row : rows) {
        events.errors.clear();
        events.commands.clear();
        sendText(row.frame);
        settle();
        EXPECT_EQ(events.errors, row.errors) << row.frame.toStdString();
        EXPECT_EQ(events.commands, row.commands) << row.frame.toStdString();
    }
    sendText(R"({"type":"authenticated"})");
    ASSERT_TRUE(waitUntil([this] { return events.authenticated(); }));
    EXPECT_TRUE(publisher.shouldReconnect()) << "no row ended the connection";
}

TEST_F(ScriptedRelayTest, ReadsBinaryFramesOnlyWhenTheyAreValidUtf8)
{
    relay.latest().sendBinaryMessage(R"({"type":"command","command":{"id":"binary"}})");
    // Decoding with replacement characters would turn this into a command for id "b\uFFFDad".
    relay.latest().sendBinaryMessage("{\"type\":\"command\",\"command\":{\"id\":\"b\xFF" "ad\"}}");
    relay.latest().sendBinaryMessage("\xC3\x28");
    settle();
    ASSERT_EQ(events.commands.size(), 1u);
    EXPECT_EQ(events.commands.front(), (boost::json::object{{"id", "binary"}}));
}

TEST_F(ScriptedRelayTest, ParsesInboundTextUpTo262144BytesAndDropsLongerOnes)
{
    const QByteArray head = R"({"type":"command","command":{"id":")";
    const QByteArray tail = R"("}})";
    const auto sized = [&](qsizetype size, char fill) {
        return head + QByteArray(size - head.size() - tail.size(), fill) + tail;
    };
    sendText(sized(262'145, 'b'));
    sendText(sized(262'144, 'a'));
    settle();
    ASSERT_EQ(events.commands.size(), 1u);
    EXPECT_EQ(events.commands.front().at("id").as_string().front(), 'a');
    EXPECT_EQ(relay.openCount(), 1) << "an over-long message does not cost the connection";
}

TEST_F(ScriptedRelayTest, SendsOutboundMessagesUpTo262144BytesAndRefusesLongerOnes)
{
    sendText(R"({"type":"authenticated"})");
    ASSERT_TRUE(waitUntil([this] { return events.authenticated(); }));
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
        EXPECT_EQ(error.kind(), RelayError::Kind::invalidResponse);
        EXPECT_STREQ(error.what(), "The relay returned an unsupported response.");
    }
    snapshot.activeThreadId->pop_back();
    publisher.send(snapshot);
    ASSERT_TRUE(waitUntil([this] {
        return std::any_of(relay.received().begin(), relay.received().end(),
                           [](const QByteArray &message) { return message.startsWith(R"({"type":"snapshot")"); });
    }));
    const auto snapshots = std::count_if(relay.received().begin(), relay.received().end(),
                                         [](const QByteArray &message) { return message.startsWith(R"({"type":"snapshot")"); });
    EXPECT_EQ(snapshots, 1);
    const auto sent = std::find_if(relay.received().begin(), relay.received().end(),
                                   [](const QByteArray &message) { return message.startsWith(R"({"type":"snapshot")"); });
    EXPECT_EQ(sent->size(), 262'144);
}

TEST_F(ScriptedRelayTest, OneLostConnectionSchedulesOneReconnect)
{
    for (int loss = 1; loss <= 3; ++loss) {
        events.connections.clear();
        events.errors.clear();
        // An abort makes Qt report an error and then a disconnect for the same loss.
        relay.latest().abort();
        ASSERT_TRUE(relay.waitForConnections(loss + 1));
        ASSERT_TRUE(waitUntil([&] { return relay.openCount() == 1; }));
        sendText(R"({"type":"authenticated"})");
        ASSERT_TRUE(waitUntil([this] { return events.authenticated(); }));
        ASSERT_EQ(events.connections.size(), 2u) << "loss " << loss;
        EXPECT_EQ(events.connections.front(), std::pair(false, 0));
        EXPECT_EQ(events.errors.size(), 1u);
    }
    // A second reconnect would have opened by now, at the same short delay.
    EXPECT_FALSE(relay.waitForConnections(5, std::chrono::milliseconds(500)));
    EXPECT_EQ(relay.mostOpenAtOnce(), 1);
}

TEST_F(ScriptedRelayTest, AServerCloseReconnectsWithoutAnErrorText)
{
    relay.latest().close();
    ASSERT_TRUE(relay.waitForConnections(2));
    ASSERT_FALSE(events.connections.empty());
    EXPECT_EQ(events.connections.front(), std::pair(false, 0));
    EXPECT_TRUE(events.errors.empty());
}

TEST_F(ScriptedRelayTest, RevokedDisconnectsForGood)
{
    sendText(R"({"type":"revoked"})");
    ASSERT_TRUE(waitUntil([this] { return !publisher.shouldReconnect(); }));
    EXPECT_FALSE(publisher.credentials());
    ASSERT_TRUE(waitUntil([this] { return relay.openCount() == 0; }));
    EXPECT_EQ(relay.latest().closeCode(), QWebSocketProtocol::CloseCodeNormal);
    EXPECT_FALSE(relay.waitForConnections(2, std::chrono::milliseconds(300)));
}

TEST_F(ScriptedRelayTest, AReconnectScheduledBeforeAPermanentDisconnectDoesNothing)
{
    relay.latest().close();
    ASSERT_TRUE(waitUntil([this] { return !events.connections.empty(); }));
    publisher.disconnect(true);
    EXPECT_EQ(events.connections.back(), std::pair(false, 1)) << "the scheduled attempt was counted";
    // The reconnect timer (50 ms) fires in this window and must not open a socket.
    EXPECT_FALSE(relay.waitForConnections(2, std::chrono::milliseconds(300)));
}

TEST_F(ScriptedRelayTest, AReconnectDueAfterANewConnectLeavesTheNewSocketAlone)
{
    relay.latest().close();
    ASSERT_TRUE(waitUntil([this] { return !events.connections.empty(); }));
    publisher.connect(credentials);
    ASSERT_TRUE(relay.waitForConnections(2));
    // The timer of the lost connection (50 ms) fires in this window.
    EXPECT_FALSE(relay.waitForConnections(3, std::chrono::milliseconds(300)));
    EXPECT_EQ(relay.openCount(), 1);
}

TEST(RelayPublisherAddress, AnUnusableBaseUrlIsReportedOnceAndNeverRetried)
{
    RelayPublisher publisher(QUrl(QStringLiteral("relay.example.com")), quickTiming());
    PublisherEvents events(publisher);
    publisher.connect(credentials);
    EXPECT_EQ(events.errors, std::vector<std::string>{"The relay URL is invalid."});
    EXPECT_FALSE(waitUntil([&] { return events.errors.size() > 1 || events.connections.size() > 1; },
                           std::chrono::milliseconds(200)));
    EXPECT_THROW(publisher.send(GlassesSnapshot()), RelayError);
}

} // namespace
} // namespace orvane::test
