#include "appserver/websocket_framing.h"

#include "appserver/websocket_handshake.h"

#include <QRandomGenerator>

#include <wslay/wslay.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace orvane {

// wslay's callbacks: it pulls input from and pushes output to the buffers of the framing.
struct WslayCallbacks {
    static ssize_t receive(wslay_event_context_ptr context, std::uint8_t *buffer,
                           std::size_t length, int, void *user)
    {
        auto &self = *static_cast<WebSocketFraming *>(user);
        if (self.m_input.empty()) {
            wslay_event_set_error(context, WSLAY_ERR_WOULDBLOCK);
            return -1;
        }
        const std::size_t count = std::min(length, self.m_input.size());
        std::memcpy(buffer, self.m_input.data(), count);
        self.m_input.remove_prefix(count);
        return static_cast<ssize_t>(count);
    }

    static ssize_t send(wslay_event_context_ptr, const std::uint8_t *data, std::size_t length,
                        int, void *user)
    {
        static_cast<WebSocketFraming *>(user)->m_output.append(
            reinterpret_cast<const char *>(data), length);
        return static_cast<ssize_t>(length);
    }

    // Masking keys must be unpredictable to whoever sees the frames.
    static int mask(wslay_event_context_ptr, std::uint8_t *buffer, std::size_t length, void *)
    {
        for (std::size_t at = 0; at < length; at += sizeof(quint32)) {
            const quint32 word = QRandomGenerator::system()->generate();
            std::memcpy(buffer + at, &word, std::min(sizeof(word), length - at));
        }
        return 0;
    }

    static void message(wslay_event_context_ptr, const wslay_event_on_msg_recv_arg *argument,
                        void *user)
    {
        auto &self = *static_cast<WebSocketFraming *>(user);
        switch (argument->opcode) {
        case WSLAY_TEXT_FRAME:
        case WSLAY_BINARY_FRAME:
            // Both carry a JSON message; one that does not parse is dropped later like any other.
            self.m_received.emplace_back(reinterpret_cast<const char *>(argument->msg),
                                        argument->msg_length);
            break;
        case WSLAY_CONNECTION_CLOSE:
            self.m_closeReceived = true;
            break;
        default: // pings are answered by wslay itself, pongs need nothing
            break;
        }
    }
};

WebSocketFraming::WebSocketFraming()
{
    static constexpr wslay_event_callbacks callbacks{
        WslayCallbacks::receive, WslayCallbacks::send,    WslayCallbacks::mask, nullptr,
        nullptr,                 nullptr,                 WslayCallbacks::message,
    };
    if (wslay_event_context_client_init(&m_context, &callbacks, this) != 0)
        throw std::bad_alloc();
    wslay_event_config_set_max_recv_msg_length(m_context, maxMessageBytes);
}

WebSocketFraming::~WebSocketFraming()
{
    wslay_event_context_free(m_context);
}

std::string WebSocketFraming::start()
{
    const std::lock_guard guard(m_lock);
    if (m_state != State::Idle)
        return {};
    m_key = WebSocketHandshake::newKey();
    m_state = State::Handshaking;
    return WebSocketHandshake::request(m_key);
}

bool WebSocketFraming::ready() const
{
    return m_state == State::Open;
}

MessageFraming::Fed WebSocketFraming::feed(std::string_view bytes)
{
    const std::lock_guard guard(m_lock);
    Fed fed;
    switch (m_state) {
    case State::Idle: // nothing may arrive before our request
        m_state = State::Ended;
        fed.failed = true;
        break;
    case State::Handshaking:
        feedHead(bytes, fed);
        break;
    case State::Open:
        feedFrames(bytes, fed);
        break;
    case State::Ended:
        break;
    }
    return fed;
}

void WebSocketFraming::feedHead(std::string_view bytes, Fed &fed)
{
    // Only the new bytes and the three before them can complete the blank line.
    const std::size_t searchFrom = m_head.size() < 3 ? 0 : m_head.size() - 3;
    m_head.append(bytes);
    const auto end = m_head.find("\r\n\r\n", searchFrom);
    if (end == std::string::npos) {
        if (m_head.size() > WebSocketHandshake::maxHeadBytes) {
            m_state = State::Ended;
            fed.failed = true;
        }
        return;
    }
    if (end > WebSocketHandshake::maxHeadBytes ||
        !WebSocketHandshake::accepts(std::string_view(m_head).substr(0, end), m_key)) {
        m_state = State::Ended;
        fed.failed = true;
        return;
    }
    m_state = State::Open;
    // Frames may follow the head in the same read.
    const std::string rest = m_head.substr(end + 4);
    m_head.clear();
    m_head.shrink_to_fit();
    if (!rest.empty())
        feedFrames(rest, fed);
}

void WebSocketFraming::feedFrames(std::string_view bytes, Fed &fed)
{
    m_input = bytes;
    const int result = wslay_event_recv(m_context);
    m_input = {};
    fed.messages = std::move(m_received);
    m_received.clear();
    // Pongs, and the answer to a close or to a protocol error, go out at once.
    fed.reply = flush();
    if (m_closeReceived) {
        fed.closed = true;
        m_state = State::Ended;
    } else if (result != 0 || !wslay_event_get_read_enabled(m_context)) {
        // A protocol error, text that is not UTF-8 or a message over the limit (wslay checks
        // each frame's announced length): wslay stopped reading and queued a close.
        fed.failed = true;
        m_state = State::Ended;
    }
}

std::string WebSocketFraming::encode(std::string_view message)
{
    const std::lock_guard guard(m_lock);
    if (m_state != State::Open)
        throw std::logic_error("WebSocket message sent while the connection is not open");
    const wslay_event_msg frame{WSLAY_TEXT_FRAME, reinterpret_cast<const std::uint8_t *>(message.data()),
                                message.size()};
    if (wslay_event_queue_msg(m_context, &frame) != 0)
        throw std::logic_error("WebSocket message could not be queued");
    return flush();
}

std::string WebSocketFraming::flush()
{
    wslay_event_send(m_context);
    return std::exchange(m_output, {});
}

} // namespace orvane
