#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct wslay_event_context;

namespace orvane::test {

// The server end of a WebSocket over a byte stream, the way the Codex daemon speaks it behind
// `app-server proxy`: it checks the upgrade request, answers 101, reads masked client frames and
// writes unmasked ones. Frames are coded by wslay's server side, so the client is checked against
// an independent codec.
class WebSocketServerPeer {
public:
    struct Received {
        std::vector<std::string> messages; // text and binary messages from the client
        std::vector<std::string> pongs;    // payloads of the client's pongs
        std::string reply;                 // bytes to send back (101 answer, close echo)
        bool closed = false;               // the client sent a close frame
        bool failed = false;               // bad request or a frame the server must reject
    };

    // How the upgrade request is answered.
    enum class Answer { Accept, WrongKey, Silent };

    explicit WebSocketServerPeer(Answer answer = Answer::Accept);
    ~WebSocketServerPeer();
    WebSocketServerPeer(const WebSocketServerPeer &) = delete;
    WebSocketServerPeer &operator=(const WebSocketServerPeer &) = delete;

    Received feed(std::string_view bytes);
    bool upgraded() const { return m_upgraded; }
    // The headers by lower-case name, once the request head is complete.
    const std::map<std::string, std::string> &requestHeaders() const { return m_headers; }

    std::string text(std::string_view message);
    std::string binary(std::string_view message);
    std::string ping(std::string_view payload);
    std::string close(std::uint16_t code);

private:
    friend struct PeerCallbacks;
    void answerRequest(std::string_view head, Received &received);
    std::string queue(std::uint8_t opcode, std::string_view payload);

    Answer m_answer;
    wslay_event_context *m_context = nullptr;
    std::string m_head;
    bool m_upgraded = false;
    bool m_ended = false;
    std::map<std::string, std::string> m_headers;
    std::string_view m_input;
    std::string m_output;
    Received *m_receiving = nullptr;
};

// One frame built by hand, for shapes a codec will not produce: masked server frames, fragments
// around a control frame, lengths the payload does not fill.
struct RawFrame {
    std::uint8_t opcode = 1;
    std::string payload;
    bool fin = true;
    bool masked = false;
    std::uint64_t declaredLength = UINT64_MAX; // length written in the header; payload size if max
};
std::string encodeRaw(const RawFrame &frame);

// Base64 SHA-1 of the key and the WebSocket GUID, computed here and not by the code under test.
std::string expectedAccept(std::string_view key);

} // namespace orvane::test
