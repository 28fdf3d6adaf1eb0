#include "websocket_server_peer.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <wslay/wslay.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <stdexcept>

namespace orvane::test {

struct PeerCallbacks {
    static ssize_t receive(wslay_event_context_ptr context, std::uint8_t *buffer, std::size_t length, int, void *user)
    {
        auto &self = *static_cast<WebSocketServerPeer *>(user);
        if (self.m_input.empty()) {
            wslay_event_set_error(context, WSLAY_ERR_WOULDBLOCK);
            return -1;
        }
        const std::size_t count = std::min(length, self.m_input.size());
        std::memcpy(buffer, self.m_input.data(), count);
        self.m_input.remove_prefix(count);
        return static_cast<ssize_t>(count);
    }

    static ssize_t send(wslay_event_context_ptr, const std::uint8_t *data, std::size_t length, int, void *user)
    {
        static_cast<WebSocketServerPeer *>(user)->m_output.append(reinterpret_cast<const char *>(data), length);
        return static_cast<ssize_t>(length);
    }

    static void message(wslay_event_context_ptr, const wslay_event_on_msg_recv_arg *argument, void *user)
    {
        auto &received = *static_cast<WebSocketServerPeer *>(user)->m_receiving;
        const std::string payload(reinterpret_cast<const char *>(argument->msg), argument->msg_length);
        if (argument->opcode == WSLAY_TEXT_FRAME || argument->opcode == WSLAY_BINARY_FRAME)
            received.messages.push_back(payload);
        else if (argument->opcode == WSLAY_PONG)
            received.pongs.push_back(payload);
        else if (argument->opcode == WSLAY_CONNECTION_CLOSE)
            received.closed = true;
    }
};

std::string expectedAccept(std::string_view key)
{
    const QByteArray input = QByteArray(key.data(), qsizetype(key.size())) + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    return QCryptographicHash::hash(input, QCryptographicHash::Sha1).toBase64().toStdString();
}

WebSocketServerPeer::WebSocketServerPeer(Answer answer) : m_answer(answer)
{
    static constexpr wslay_event_callbacks callbacks{
        PeerCallbacks::receive, PeerCallbacks::send, nullptr, nullptr, nullptr, nullptr,
        PeerCallbacks::message,
    };
    if (wslay_event_context_server_init(&m_context, &callbacks, this) != 0)
        throw std::bad_alloc();
}

WebSocketServerPeer::~WebSocketServerPeer()
{
    wslay_event_context_free(m_context);
}

WebSocketServerPeer::Received WebSocketServerPeer::feed(std::string_view bytes)
{
    Received received;
    if (m_ended)
        return received;
    if (!m_upgraded) {
        m_head.append(bytes);
        const auto end = m_head.find("\r\n\r\n");
        if (end == std::string::npos)
            return received;
        answerRequest(std::string_view(m_head).substr(0, end), received);
        if (!m_upgraded)
            return received;
        bytes = std::string_view(m_head).substr(end + 4);
    }
    m_receiving = &received;
    m_input = bytes;
    const int result = wslay_event_recv(m_context);
    m_receiving = nullptr;
    wslay_event_send(m_context);
    received.reply += std::exchange(m_output, {});
    if (result != 0 || (!received.closed && !wslay_event_get_read_enabled(m_context)))
        received.failed = true;
    m_ended = received.closed || received.failed;
    return received;
}

void WebSocketServerPeer::answerRequest(std::string_view head, Received &received)
{
    const std::string requestLine(head.substr(0, head.find("\r\n")));
    static const std::regex headerLine(R"(\r\n([^:\r]*): *([^\r]*))");
    for (std::cregex_iterator line(head.data(), head.data() + head.size(), headerLine), end; line != end; ++line)
        m_headers[QByteArray::fromStdString((*line)[1]).toLower().toStdString()] = (*line)[2];

    const auto key = QByteArray::fromStdString(m_headers["sec-websocket-key"]);
    const auto decodedKey = QByteArray::fromBase64Encoding(key, QByteArray::AbortOnBase64DecodingErrors);
    const bool valid = requestLine == "GET / HTTP/1.1" && m_headers["host"] == "localhost" && m_headers["upgrade"] == "websocket"
        && m_headers["connection"] == "Upgrade" && m_headers["sec-websocket-version"] == "13" && decodedKey
        && decodedKey.decoded.size() == 16;
    if (!valid) {
        received.reply = "HTTP/1.1 400 Bad Request\r\ncontent-length: 0\r\n\r\n";
        received.failed = true;
        m_ended = true;
        return;
    }
    if (m_answer == Answer::Silent) {
        m_ended = true;
        return;
    }
    const std::string accept =
        expectedAccept(m_answer == Answer::WrongKey ? "dGhlIHNhbXBsZSBub25jZQ==" : key.toStdString());
    // The daemon's own answer: lower-case names and an extra header of its own.
    received.reply = "HTTP/1.1 101 Switching Protocols\r\nconnection: Upgrade\r\nupgrade: websocket\r\n"
                     "sec-websocket-accept: " + accept +
                     "\r\nx-codex-websocket-max-unfragmented-message-bytes: 16777216\r\n\r\n";
    m_upgraded = m_answer == Answer::Accept;
    m_ended = !m_upgraded;
}

std::string WebSocketServerPeer::queue(std::uint8_t opcode, std::string_view payload)
{
    const wslay_event_msg frame{opcode, reinterpret_cast<const std::uint8_t *>(payload.data()),
                                payload.size()};
    if (wslay_event_queue_msg(m_context, &frame) != 0)
        throw std::logic_error("the server peer cannot send after a close");
    wslay_event_send(m_context);
    return std::exchange(m_output, {});
}

std::string WebSocketServerPeer::text(std::string_view message) { return queue(WSLAY_TEXT_FRAME, message); }
std::string WebSocketServerPeer::binary(std::string_view message) { return queue(WSLAY_BINARY_FRAME, message); }
std::string WebSocketServerPeer::ping(std::string_view payload) { return queue(WSLAY_PING, payload); }

std::string WebSocketServerPeer::close(std::uint16_t code)
{
    return queue(WSLAY_CONNECTION_CLOSE, std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xff)});
}

std::string encodeRaw(const RawFrame &frame)
{
    std::string bytes;
    bytes += static_cast<char>((frame.fin ? 0x80 : 0) | (frame.opcode & 0x0f));
    const std::uint64_t length = frame.declaredLength == UINT64_MAX ? frame.payload.size() : frame.declaredLength;
    const char maskBit = frame.masked ? char(0x80) : char(0);
    if (length < 126) {
        bytes += static_cast<char>(maskBit | static_cast<char>(length));
    } else {
        const bool wide = length > 0xffff;
        bytes += static_cast<char>(maskBit | (wide ? 127 : 126));
        for (int shift = wide ? 56 : 8; shift >= 0; shift -= 8)
            bytes += static_cast<char>((length >> shift) & 0xff);
    }
    const char maskKey[4] = {0x12, 0x34, 0x56, 0x78};
    if (frame.masked)
        bytes.append(maskKey, 4);
    for (std::size_t i = 0; i < frame.payload.size(); ++i)
        bytes += frame.masked ? static_cast<char>(frame.payload[i] ^ maskKey[i % 4]) : frame.payload[i];
    return bytes;
}

} // namespace orvane::test
