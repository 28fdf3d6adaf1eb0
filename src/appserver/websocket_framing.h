#pragma once

#include "appserver/message_framing.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct wslay_event_context;

namespace orvane {

// The client side of a WebSocket carried over the managed daemon proxy's stdin and stdout:
// the upgrade handshake first, then one masked text frame per message. Pings are answered and a
// close frame ends the stream. Frames are coded by wslay; this class only moves bytes.
// Safe to call from several threads: feed() and encode() share one codec under a mutex.
class WebSocketFraming final : public MessageFraming {
public:
    static constexpr std::uint64_t maxMessageBytes = 64ull * 1024 * 1024;

    WebSocketFraming();
    ~WebSocketFraming() override;
    WebSocketFraming(const WebSocketFraming &) = delete;
    WebSocketFraming &operator=(const WebSocketFraming &) = delete;

    std::string start() override;
    bool ready() const override;
    Fed feed(std::string_view bytes) override;
    std::string encode(std::string_view message) override;

private:
    enum class State { Idle, Handshaking, Open, Ended };

    void feedHead(std::string_view bytes, Fed &fed);
    void feedFrames(std::string_view bytes, Fed &fed);
    std::string flush();

    friend struct WslayCallbacks;

    std::mutex m_lock;
    std::atomic<State> m_state = State::Idle;
    wslay_event_context *m_context = nullptr;
    std::string m_key;
    std::string m_head;                  // response head received so far
    std::string_view m_input;            // bytes of the current feed() not yet given to wslay
    std::string m_output;                // bytes wslay produced since the last flush()
    std::vector<std::string> m_received; // messages completed during the current feed()
    bool m_closeReceived = false;
};

} // namespace orvane
