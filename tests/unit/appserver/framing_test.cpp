// The framing seam fed bytes directly: lines, and WebSocket against an independent server codec.
#include "appserver/line_framing.h"
#include "appserver/websocket_framing.h"

#include "websocket_server_peer.h"

#include <gtest/gtest.h>

#include <fixture.h>

#include <boost/json.hpp>

#include <functional>

namespace orvane {
namespace {

using namespace test;

struct Outcome {
    std::vector<std::string> messages;
    std::string reply;
    bool closed = false, failed = false;
    void add(MessageFraming::Fed fed)
    {
        messages.insert(messages.end(), fed.messages.begin(), fed.messages.end());
        reply += fed.reply;
        closed = closed || fed.closed;
        failed = failed || fed.failed;
    }
};

Outcome feedInChunks(MessageFraming &framing, std::string_view bytes, std::size_t chunk)
{
    Outcome outcome;
    for (std::size_t at = 0; at < bytes.size(); at += chunk)
        outcome.add(framing.feed(bytes.substr(at, chunk)));
    return outcome;
}

TEST(LineFraming, SplitsChunksAtLineFeedsAndDropsARunawayLine)
{
    const auto rows = fixture("line-framing.json");
    for (const auto &row : rows.as_array()) {
        LineFraming framing(8); // lines of up to 8 bytes
        Outcome outcome;
        for (const auto &chunk : row.at("chunks").as_array())
            outcome.add(framing.feed(chunk.as_string()));
        EXPECT_EQ(boost::json::value_from(outcome.messages), row.at("messages")) << row;
        EXPECT_EQ(outcome.failed, row.at("failed").as_bool()) << row;
    }
}

// What the daemon sends after the upgrade, and what the client must make of it.
struct StreamCase {
    const char *name;
    std::function<std::string(WebSocketServerPeer &)> frames;
    std::vector<std::string> messages;
    std::vector<std::string> pongs = {}; // what the server finds in the client's replies
    bool closed = false, failed = false;
};

const std::string big(70000, 'x');
const std::vector<StreamCase> streamCases = {
    {"length16Bit", [](auto &peer) { return peer.text(big.substr(0, 300)); }, {big.substr(0, 300)}},
    {"length64Bit", [](auto &peer) { return peer.text(big); }, {big}},
    {"joinedWithPing", [](auto &peer) { return peer.text("{}") + peer.ping("p1") + peer.binary("[]"); }, {"{}", "[]"}, {"p1"}},
    {"fragmentsWithPingInside", [](auto &) {
         return encodeRaw({.payload = "{\"a", .fin = false}) + encodeRaw({.opcode = 9, .payload = "mid"}) +
                encodeRaw({.opcode = 0, .payload = "\":", .fin = false}) + encodeRaw({.opcode = 0, .payload = "3}"});
     }, {"{\"a\":3}"}, {"mid"}},
    {"close", [](auto &peer) { return peer.text("{}") + encodeRaw({.opcode = 8, .payload = "\x03\xe8"}) + "\x81\x02{}"; },
     {"{}"}, {}, true},
    {"protocolError", [](auto &) { return encodeRaw({.payload = "{}", .masked = true}); }, {}, {}, false, true},
    {"overTheLimit", [](auto &) { return encodeRaw({.payload = "{", .declaredLength = (64 << 20) + 1}); }, {}, {}, false, true},
};

TEST(WebSocketFraming, DeliversMessagesAndAnswersControlFramesHoweverTheStreamIsCut)
{
    for (const auto &row : streamCases)
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{5}, std::string::npos}) {
            SCOPED_TRACE(std::string(row.name) + " in chunks of " + std::to_string(chunk));
            WebSocketFraming framing;
            WebSocketServerPeer peer;
            std::string stream = peer.feed(framing.start()).reply;
            ASSERT_TRUE(peer.upgraded());
            stream += row.frames(peer);
            const auto outcome = feedInChunks(framing, stream, chunk);
            EXPECT_EQ(outcome.messages, row.messages);
            EXPECT_EQ(outcome.closed, row.closed);
            EXPECT_EQ(outcome.failed, row.failed);
            EXPECT_EQ(framing.ready(), !row.closed && !row.failed);
            // The peer refuses unmasked frames; a close is echoed and a protocol error answered with one.
            const auto answered = peer.feed(outcome.reply);
            EXPECT_FALSE(answered.failed);
            EXPECT_EQ(answered.pongs, row.pongs);
            EXPECT_EQ(answered.closed, row.closed || row.failed);
            // What came in goes back out, masked, and the peer reads it as it was.
            for (const auto &message : framing.ready() ? outcome.messages : std::vector<std::string>())
                EXPECT_EQ(peer.feed(framing.encode(message)).messages, std::vector<std::string>{message});
        }
}

TEST(WebSocketFraming, SendsMaskedTextFramesAfterAFreshKeyAndTakesTheLargestMessage)
{
    WebSocketFraming framing;
    WebSocketServerPeer peer;
    // The peer checks the request line and every header of the upgrade.
    ASSERT_FALSE(feedInChunks(framing, peer.feed(framing.start()).reply, std::string::npos).failed);
    EXPECT_EQ(WebSocketFraming().start().find(peer.requestHeaders().at("sec-websocket-key")), std::string::npos);
    EXPECT_EQ(framing.encode("{}").front(), '\x81');
    EXPECT_NE(framing.encode("{}"), framing.encode("{}"));
    EXPECT_EQ(feedInChunks(framing, peer.text(std::string(64 << 20, 'x')), 1 << 20).messages.size(), 1u);
}

// Each row: the head a daemon answers the upgrade with (KEY stands for the right accept value),
// whether the socket then is open, and whether it failed.
TEST(WebSocketFraming, OpensOnlyOnAMatchingUpgrade)
{
    auto rows = fixture("upgrade-answers.json").as_array();
    const std::string unending = "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\nX-Filler: " + std::string(17000, 'a');
    rows.push_back({unending, false, true});
    for (const auto &row : rows)
        for (const std::size_t chunk : {std::size_t{1}, std::string::npos}) {
            WebSocketFraming framing;
            WebSocketServerPeer peer;
            ASSERT_FALSE(peer.feed(framing.start()).failed);
            std::string head(row.at(0).as_string());
            if (const auto at = head.find("KEY"); at != std::string::npos)
                head.replace(at, 3, test::expectedAccept(peer.requestHeaders().at("sec-websocket-key")));
            EXPECT_EQ(feedInChunks(framing, head, chunk).failed, row.at(2).as_bool()) << row;
            EXPECT_EQ(framing.ready(), row.at(1).as_bool()) << row;
        }
}

}
}
