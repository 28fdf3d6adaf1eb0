// The framing seam fed bytes directly: lines, and the WebSocket against an independent server codec.
#include "appserver/line_framing.h"
#include "appserver/websocket_framing.h"

#include "websocket_server_peer.h"

#include <gtest/gtest.h>

#include <functional>

namespace orvane {
namespace {

using test::encodeRaw;
using test::WebSocketServerPeer;

// Everything a framing produced over several feeds.
struct Outcome {
    std::vector<std::string> messages;
    std::string reply;
    bool closed = false;
    bool failed = false;
};

void feed(MessageFraming &framing, std::string_view bytes, Outcome &outcome)
{
    auto fed = framing.feed(bytes);
    outcome.messages.insert(outcome.messages.end(), fed.messages.begin(), fed.messages.end());
    outcome.reply += fed.reply;
    outcome.closed = outcome.closed || fed.closed;
    outcome.failed = outcome.failed || fed.failed;
}

Outcome feedInChunks(MessageFraming &framing, std::string_view bytes, std::size_t chunk)
{
    Outcome outcome;
    for (std::size_t at = 0; at < bytes.size(); at += chunk)
        feed(framing, bytes.substr(at, chunk), outcome);
    return outcome;
}

const auto byName = [](const auto &info) { return std::string(info.param.name); };

struct LineCase {
    const char *name;
    std::vector<std::string> chunks;
    std::vector<std::string> messages;
    bool failed = false;
};

class Lines : public testing::TestWithParam<LineCase> {};

TEST_P(Lines, SplitChunksAtLineFeedsAndDropARunawayLine)
{
    LineFraming framing(8);
    Outcome outcome;
    for (const auto &chunk : GetParam().chunks)
        feed(framing, chunk, outcome);
    EXPECT_EQ(outcome.messages, GetParam().messages);
    EXPECT_EQ(outcome.failed, GetParam().failed);
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, Lines,
    testing::Values(LineCase{"split", {"{\"i", "d\":1}", "\n"}, {"{\"id\":1}"}},
                    LineCase{"joinedWithATail", {"a\nb\nc", "d\n"}, {"a", "b", "cd"}},
                    LineCase{"emptyLinesAndChunks", {"", "\n\na\n"}, {"", "", "a"}},
                    LineCase{"atTheLimit", {"12345678", "\n"}, {"12345678"}},
                    LineCase{"overTheLimitAcrossChunksThenClean", {"ab\n1234", "56789", "ok\n"}, {"ab", "ok"}, true},
                    LineCase{"overTheLimitInOneChunk", {"a\n123456789\nb\n"}, {"a"}, true}),
    byName);

// What the daemon sends after the upgrade, and what the client must make of it.
struct StreamCase {
    const char *name;
    std::function<std::string(WebSocketServerPeer &)> frames;
    std::vector<std::string> messages;
    std::vector<std::string> pongs = {}; // what the server finds in the client's replies
    bool closed = false;
    bool failed = false;
};

const std::vector<StreamCase> streamCases = {
    {"joined", [](auto &peer) { return peer.text("{\"a\":1}") + peer.binary("{\"b\":2}"); }, {"{\"a\":1}", "{\"b\":2}"}},
    {"length16Bit", [](auto &peer) { return peer.text(std::string(300, 'x')); }, {std::string(300, 'x')}},
    {"length64Bit", [](auto &peer) { return peer.text(std::string(70000, 'x')); }, {std::string(70000, 'x')}},
    {"pingBetweenMessages", [](auto &peer) { return peer.text("{\"a\":1}") + peer.ping("p1") + peer.text("{}"); },
     {"{\"a\":1}", "{}"}, {"p1"}},
    {"fragmentsWithPingInside",
     [](auto &) {
         return encodeRaw({.opcode = 1, .payload = "{\"par", .fin = false}) + encodeRaw({.opcode = 9, .payload = "mid"}) +
                encodeRaw({.opcode = 0, .payload = "ts\":", .fin = false}) + encodeRaw({.opcode = 0, .payload = "3}"});
     },
     {"{\"parts\":3}"}, {"mid"}},
    {"closeEndsTheStream",
     [](auto &peer) {
         auto bytes = peer.text("{\"last\":1}"); // before the close, which ends the peer's sending
         return bytes + peer.close(1000) + "\x81\x02{}";
     },
     {"{\"last\":1}"}, {}, true},
    {"protocolError", [](auto &) { return encodeRaw({.payload = "{}", .masked = true}); }, {}, {}, false, true},
    {"overTheLimit",
     [](auto &) { return encodeRaw({.payload = "{", .declaredLength = WebSocketFraming::maxMessageBytes + 1}); }, {}, {},
     false, true},
};

class WebSocketStream : public testing::TestWithParam<std::tuple<StreamCase, std::size_t>> {};

TEST_P(WebSocketStream, DeliversMessagesAndAnswersControlFrames)
{
    const auto &[row, chunk] = GetParam();
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
}

// Whole, byte by byte, and in pieces that cut headers and payloads apart.
INSTANTIATE_TEST_SUITE_P(Chunks, WebSocketStream,
                         testing::Combine(testing::ValuesIn(streamCases),
                                          testing::Values(std::size_t{1}, std::size_t{5}, std::string::npos)),
                         [](const auto &info) {
                             const auto chunk = std::get<1>(info.param);
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    (chunk == std::string::npos ? "whole" : std::to_string(chunk));
                         });

TEST(WebSocketFraming, SendsMaskedTextFramesAfterAFreshKeyAndTakesTheLargestMessage)
{
    WebSocketFraming framing;
    WebSocketServerPeer peer;
    // The peer checks the request line and every header of the upgrade.
    std::string stream = peer.feed(framing.start()).reply;
    ASSERT_FALSE(feedInChunks(framing, stream, std::string::npos).failed);
    ASSERT_TRUE(framing.ready());
    EXPECT_EQ(WebSocketFraming().start().find(peer.requestHeaders().at("sec-websocket-key")), std::string::npos);
    for (const std::size_t size : {0, 300, 70000}) {
        const std::string message(size, 'x');
        const auto bytes = framing.encode(message);
        EXPECT_EQ(bytes.front(), '\x81');
        EXPECT_EQ(peer.feed(bytes).messages, std::vector<std::string>{message}) << size;
    }
    EXPECT_NE(framing.encode("{}"), framing.encode("{}"));

    const auto largest = feedInChunks(framing, peer.text(std::string(WebSocketFraming::maxMessageBytes, 'x')), 1 << 20);
    EXPECT_FALSE(largest.failed);
    EXPECT_EQ(largest.messages.size(), 1u);
}

// Response heads to the upgrade; KEY stands for the right accept value.
struct HeadCase {
    const char *name;
    std::string head;
    bool ready;
    bool failed;
};

const std::string upgraded = "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n";
const std::string accepted = upgraded + "Sec-WebSocket-Accept: KEY\r\n";

const std::vector<HeadCase> headCases = {
    {"daemonAnswer",
     "HTTP/1.1 101 Switching Protocols\r\nconnection: Upgrade\r\nupgrade: websocket\r\nsec-websocket-accept: KEY\r\n"
     "x-codex-websocket-max-unfragmented-message-bytes: 16777216\r\n\r\n",
     true, false},
    {"mixedCaseAndTokenList",
     "HTTP/1.1 101 OK\r\nUPGRADE: WebSocket\r\nConnection: keep-alive, upgrade\r\nSec-WebSocket-Accept:KEY \r\n\r\n", true,
     false},
    {"wrongAccept", upgraded + "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n", false, true},
    {"notUpgraded", "HTTP/1.1 200 OK\r\ncontent-length: 0\r\n\r\n", false, true},
    {"status1010", "HTTP/1.1 1010 Odd" + accepted.substr(accepted.find('\r')) + "\r\n", false, true},
    {"noUpgrade", "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: KEY\r\n\r\n", false, true},
    {"noConnection", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nSec-WebSocket-Accept: KEY\r\n\r\n", false,
     true},
    {"extension", accepted + "Sec-WebSocket-Extensions: permessage-deflate\r\n\r\n", false, true},
    {"subprotocol", accepted + "Sec-WebSocket-Protocol: chat\r\n\r\n", false, true},
    {"lineWithoutColon", accepted + "broken\r\n\r\n", false, true},
    {"unfinished", accepted, false, false},
    {"endless", upgraded + "X-Filler: " + std::string(17000, 'a'), false, true},
};

class WebSocketHead : public testing::TestWithParam<HeadCase> {};

TEST_P(WebSocketHead, OpensOnlyOnAMatchingUpgrade)
{
    for (const std::size_t chunk : {std::size_t{1}, std::string::npos}) {
        WebSocketFraming framing;
        WebSocketServerPeer peer;
        ASSERT_FALSE(peer.feed(framing.start()).failed);
        std::string head = GetParam().head;
        if (const auto at = head.find("KEY"); at != std::string::npos)
            head.replace(at, 3, test::expectedAccept(peer.requestHeaders().at("sec-websocket-key")));
        EXPECT_EQ(feedInChunks(framing, head, chunk).failed, GetParam().failed) << chunk;
        EXPECT_EQ(framing.ready(), GetParam().ready) << chunk;
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, WebSocketHead, testing::ValuesIn(headCases), byName);

}
}
