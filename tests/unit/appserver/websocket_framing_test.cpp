#include "appserver/websocket_framing.h"
#include "appserver/websocket_handshake.h"

#include "websocket_server_peer.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <functional>
#include <stdexcept>

namespace orvane {
namespace {

using test::RawFrame;
using test::WebSocketServerPeer;

// Everything one framing produced while a byte stream was fed to it.
struct Outcome {
    std::vector<std::string> messages;
    std::string reply;
    bool closed = false;
    bool failed = false;
};

Outcome feedInChunks(WebSocketFraming &framing, std::string_view bytes, std::size_t chunk)
{
    Outcome outcome;
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
        auto fed = framing.feed(bytes.substr(at, chunk));
        outcome.messages.insert(outcome.messages.end(), fed.messages.begin(), fed.messages.end());
        outcome.reply += fed.reply;
        outcome.closed = outcome.closed || fed.closed;
        outcome.failed = outcome.failed || fed.failed;
    }
    return outcome;
}

// The upgrade answer for a framing's request, from an independent server peer.
std::string upgrade(WebSocketFraming &framing, WebSocketServerPeer &peer)
{
    return peer.feed(framing.start()).reply;
}

// Frames in the order written: a braced list is evaluated left to right, a chain of + is not.
std::string joined(std::initializer_list<std::string> parts)
{
    std::string bytes;
    for (const auto &part : parts)
        bytes += part;
    return bytes;
}

std::string repeated(std::size_t size)
{
    std::string text(size, 'x');
    text.front() = '{';
    text.back() = '}';
    return text;
}

// What the server sends after the upgrade, and what the client must make of it.
struct StreamCase {
    const char *name;
    std::function<std::string(WebSocketServerPeer &)> frames;
    std::vector<std::string> messages;
    std::vector<std::string> pongs; // what the server must find in the client's replies
    bool closed = false;
    bool failed = false;
};

const std::vector<StreamCase> streamCases = {
    {"one_message", [](auto &peer) { return peer.text(R"({"id":1,"result":{}})"); },
     {R"({"id":1,"result":{}})"}, {}},
    {"joined_messages",
     [](auto &peer) { return joined({peer.text(R"({"id":1})"), peer.text(R"({"method":"a"})")}); },
     {R"({"id":1})", R"({"method":"a"})"}, {}},
    {"length_16_bit", [](auto &peer) { return peer.text(repeated(300)); }, {repeated(300)}, {}},
    {"length_16_bit_largest", [](auto &peer) { return peer.text(repeated(65535)); },
     {repeated(65535)}, {}},
    {"length_64_bit", [](auto &peer) { return peer.text(repeated(70000)); }, {repeated(70000)}, {}},
    {"ping_between_messages",
     [](auto &peer) { return joined({peer.text("{\"a\":1}"), peer.ping("p1"), peer.text("{\"b\":2}")}); },
     {"{\"a\":1}", "{\"b\":2}"}, {"p1"}},
    {"empty_ping", [](auto &peer) { return peer.ping(""); }, {}, {""}},
    {"fragmented_with_ping_inside",
     [](auto &) {
         return test::encodeRaw({.opcode = 1, .payload = "{\"par", .fin = false}) +
                test::encodeRaw({.opcode = 9, .payload = "mid"}) +
                test::encodeRaw({.opcode = 0, .payload = "ts\":", .fin = false}) +
                test::encodeRaw({.opcode = 0, .payload = "3}"});
     },
     {"{\"parts\":3}"}, {"mid"}},
    {"binary_message", [](auto &peer) { return peer.binary("{\"bin\":true}"); },
     {"{\"bin\":true}"}, {}},
    {"close_ends_the_stream",
     [](auto &peer) { return joined({peer.text("{\"last\":1}"), peer.close(1000), "\x81\x02{}"}); },
     {"{\"last\":1}"}, {}, true},
    {"masked_server_frame",
     [](auto &) { return test::encodeRaw({.payload = "{}", .masked = true}); }, {}, {}, false,
     true},
    {"reserved_bit_without_extension",
     [](auto &) { return test::encodeRaw({.payload = "{}", .reservedBits = 4}); }, {}, {}, false,
     true},
    {"unknown_opcode", [](auto &) { return test::encodeRaw({.opcode = 3, .payload = "{}"}); }, {},
     {}, false, true},
    {"text_not_utf8", [](auto &) { return test::encodeRaw({.payload = "{\"a\":\"\xff\"}"}); }, {},
     {}, false, true},
    {"continuation_without_start",
     [](auto &) { return test::encodeRaw({.opcode = 0, .payload = "{}"}); }, {}, {}, false, true},
    {"message_over_the_limit",
     [](auto &) {
         return test::encodeRaw({.payload = "{", .declaredLength = WebSocketFraming::maxMessageBytes + 1});
     },
     {}, {}, false, true},
    {"fragments_over_the_limit",
     [](auto &) {
         return test::encodeRaw({.payload = std::string(1000, 'x'), .fin = false}) +
                test::encodeRaw({.opcode = 0, .payload = "x", .fin = false,
                                 .declaredLength = WebSocketFraming::maxMessageBytes});
     },
     {}, {}, false, true},
};

// Each stream is fed whole, byte by byte, and in chunks that cut headers and payloads apart.
class WebSocketStream : public testing::TestWithParam<std::tuple<StreamCase, std::size_t>> {};

TEST_P(WebSocketStream, DeliversMessagesAndAnswersControlFrames)
{
    const auto &[row, chunk] = GetParam();
    WebSocketFraming framing;
    WebSocketServerPeer peer;
    std::string stream = upgrade(framing, peer);
    stream += row.frames(peer);

    const Outcome outcome = feedInChunks(framing, stream, chunk);
    EXPECT_EQ(outcome.messages, row.messages);
    EXPECT_EQ(outcome.closed, row.closed);
    EXPECT_EQ(outcome.failed, row.failed);

    // The peer's wslay rejects unmasked client frames, so this also checks the masking.
    const auto answered = peer.feed(outcome.reply);
    EXPECT_FALSE(answered.failed);
    EXPECT_EQ(answered.pongs, row.pongs);
    // A close is echoed; a protocol error is answered with a close of our own.
    EXPECT_EQ(answered.closed, row.closed || row.failed);
    EXPECT_EQ(framing.ready(), !row.closed && !row.failed);
}

INSTANTIATE_TEST_SUITE_P(Chunks, WebSocketStream,
                         testing::Combine(testing::ValuesIn(streamCases),
                                          testing::Values(std::size_t{1}, std::size_t{5},
                                                          std::size_t{4096}, std::string::npos)),
                         [](const auto &info) {
                             const auto chunk = std::get<1>(info.param);
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    (chunk == std::string::npos ? "whole"
                                                                : std::to_string(chunk));
                         });

TEST(WebSocketFraming, LargestMessagePassesAndOneByteMoreFails)
{
    for (const auto size : {WebSocketFraming::maxMessageBytes, WebSocketFraming::maxMessageBytes + 1}) {
        WebSocketFraming framing;
        WebSocketServerPeer peer;
        std::string stream = upgrade(framing, peer);
        stream += peer.text(repeated(size));
        const auto outcome = feedInChunks(framing, stream, 1 << 20);
        EXPECT_EQ(outcome.failed, size > WebSocketFraming::maxMessageBytes) << size;
        EXPECT_EQ(outcome.messages.size(), size > WebSocketFraming::maxMessageBytes ? 0u : 1u);
    }
}

// Response heads the client must accept or refuse; KEY stands for the right accept value.
struct HeadCase {
    const char *name;
    std::string head;
    bool ready;
    bool failed;
};

const std::vector<HeadCase> headCases = {
    {"daemon_answer",
     "HTTP/1.1 101 Switching Protocols\r\nconnection: Upgrade\r\nupgrade: websocket\r\n"
     "sec-websocket-accept: KEY\r\nx-codex-websocket-max-unfragmented-message-bytes: 16777216\r\n\r\n",
     true, false},
    {"mixed_case_and_token_list",
     "HTTP/1.1 101 OK\r\nUPGRADE: WebSocket\r\nConnection: keep-alive, upgrade\r\n"
     "Sec-WebSocket-Accept:KEY \r\n\r\n",
     true, false},
    {"wrong_accept",
     "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
     "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n",
     false, true},
    {"missing_accept", "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n",
     false, true},
    {"not_upgraded", "HTTP/1.1 200 OK\r\ncontent-length: 0\r\n\r\n", false, true},
    {"status_1010", "HTTP/1.1 1010 Odd\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
                    "Sec-WebSocket-Accept: KEY\r\n\r\n", false, true},
    {"http_1_0", "HTTP/1.0 101 Switching Protocols\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
                 "Sec-WebSocket-Accept: KEY\r\n\r\n", false, true},
    {"missing_upgrade", "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\n"
                        "Sec-WebSocket-Accept: KEY\r\n\r\n", false, true},
    {"missing_connection", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                           "Sec-WebSocket-Accept: KEY\r\n\r\n", false, true},
    {"unasked_extension",
     "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
     "Sec-WebSocket-Accept: KEY\r\nSec-WebSocket-Extensions: permessage-deflate\r\n\r\n",
     false, true},
    {"unasked_subprotocol",
     "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
     "Sec-WebSocket-Accept: KEY\r\nSec-WebSocket-Protocol: chat\r\n\r\n",
     false, true},
    {"line_without_colon", "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
                           "Sec-WebSocket-Accept: KEY\r\nbroken\r\n\r\n", false, true},
    {"no_answer", "", false, false},
    {"head_not_finished", "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\n", false, false},
    {"endless_head", "HTTP/1.1 101 Switching Protocols\r\nX-Filler: " + std::string(17000, 'a'),
     false, true},
    {"json_line_instead", "{\"id\":1,\"result\":{}}\n", false, false},
};

class WebSocketHead : public testing::TestWithParam<HeadCase> {};

TEST_P(WebSocketHead, OpensOnlyOnAMatchingUpgrade)
{
    const auto &row = GetParam();
    for (const std::size_t chunk : {std::size_t{1}, std::string::npos}) {
        WebSocketFraming framing;
        WebSocketServerPeer peer;
        ASSERT_FALSE(peer.feed(framing.start()).failed);
        std::string head = row.head;
        if (const auto at = head.find("KEY"); at != std::string::npos)
            head.replace(at, 3, test::expectedAccept(peer.requestHeaders().at("sec-websocket-key")));
        const auto outcome = feedInChunks(framing, head, chunk);
        EXPECT_EQ(framing.ready(), row.ready) << chunk;
        EXPECT_EQ(outcome.failed, row.failed) << chunk;
        EXPECT_TRUE(outcome.messages.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, WebSocketHead, testing::ValuesIn(headCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(WebSocketFraming, RequestsTheUpgradeWithAFreshKey)
{
    WebSocketFraming first;
    WebSocketFraming second;
    WebSocketServerPeer peer;
    const auto answered = peer.feed(first.start());
    EXPECT_FALSE(answered.failed) << "the peer checks the request line and every header";
    EXPECT_EQ(peer.requestLine(), "GET / HTTP/1.1");
    const std::string key = peer.requestHeaders().at("sec-websocket-key");
    EXPECT_EQ(QByteArray::fromBase64(QByteArray::fromStdString(key)).size(), 16);
    const std::string otherRequest = second.start();
    EXPECT_EQ(otherRequest.find(key), std::string::npos);
    EXPECT_EQ(first.start(), "") << "the handshake is asked for once";
}

TEST(WebSocketFraming, AcceptValueOfTheStandardExample)
{
    EXPECT_EQ(WebSocketHandshake::acceptFor("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST(WebSocketFraming, EncodesMaskedTextFramesOfEveryLengthForm)
{
    WebSocketFraming framing;
    WebSocketServerPeer peer;
    ASSERT_FALSE(feedInChunks(framing, upgrade(framing, peer), std::string::npos).failed);
    ASSERT_TRUE(framing.ready());
    for (const std::size_t size : {0, 2, 125, 126, 65535, 65536, 200000}) {
        const std::string message = size == 0 ? std::string() : repeated(std::max<std::size_t>(size, 2));
        const std::string bytes = framing.encode(message);
        EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0x81) << "one final text frame";
        const auto received = peer.feed(bytes);
        EXPECT_FALSE(received.failed) << size;
        EXPECT_EQ(received.messages, std::vector<std::string>{message}) << size;
    }
    // Fresh masking keys: the same message never travels as the same bytes twice.
    EXPECT_NE(framing.encode("{\"same\":1}"), framing.encode("{\"same\":1}"));
}

TEST(WebSocketFraming, RefusesToSendOutsideAnOpenConnection)
{
    WebSocketFraming framing;
    EXPECT_THROW(framing.encode("{}"), std::logic_error);
    WebSocketServerPeer peer;
    feedInChunks(framing, upgrade(framing, peer), std::string::npos);
    EXPECT_NO_THROW(framing.encode("{}"));
    EXPECT_TRUE(feedInChunks(framing, peer.close(1001), std::string::npos).closed);
    EXPECT_THROW(framing.encode("{}"), std::logic_error);
}

TEST(WebSocketFraming, BytesBeforeTheRequestFail)
{
    WebSocketFraming framing;
    EXPECT_TRUE(framing.feed("HTTP/1.1 101 Switching Protocols\r\n\r\n").failed);
    EXPECT_FALSE(framing.ready());
}

} // namespace
} // namespace orvane
