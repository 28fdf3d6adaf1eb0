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

    std::mutex lock_;
    std::atomic<State> state_ = State::Idle;
    wslay_event_context *context_ = nullptr;
    std::string key_;
    std::string head_;                  // response head received so far
    std::string_view input_;            // bytes of the current feed() not yet given to wslay
    std::string output_;                // bytes wslay produced since the last flush()
    std::vector<std::string> received_; // messages completed during the current feed()
    bool closeReceived_ = false;
};

} // namespace orvane
