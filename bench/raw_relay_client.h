#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvane::test {

// A relay client on a bare socket, for what Qt's clients cannot do: ask for permessage-deflate
// and count the bytes as they come off the wire, compressed or not.
class RawRelayClient {
public:
    // Connects from `source` (any 127.x.y.z) to 127.0.0.1:`port`.
    RawRelayClient(const std::string &source, std::uint16_t port);
    ~RawRelayClient();
    RawRelayClient(const RawRelayClient &) = delete;
    RawRelayClient &operator=(const RawRelayClient &) = delete;

    struct HttpAnswer {
        int status = 0; // 0 when no answer came in time
        std::string body;
    };
    // One request on this connection, and its answer (bodies with Content-Length only).
    HttpAnswer http(std::string_view request, std::chrono::milliseconds limit = std::chrono::seconds(10));

    // The WebSocket handshake on `path`; true on 101. `deflate` asks for permessage-deflate.
    bool upgrade(const std::string &path, bool deflate);
    void sendText(std::string_view text);

    struct Message {
        std::string payload; // still compressed when `compressed`
        bool compressed = false;
    };
    std::optional<Message> nextMessage(std::chrono::milliseconds limit = std::chrono::seconds(10));
    std::uint64_t wireBytes() const { return wireBytes_; }

private:
    // False once the relay closed or reset the connection.
    bool sendAll(std::string_view bytes);
    bool fill(std::chrono::steady_clock::time_point deadline);
    std::optional<std::string> take(std::size_t size, std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    std::string buffer_;
    std::uint64_t wireBytes_ = 0;
};

} // namespace orvane::test
