#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The HTTP/1.1 upgrade that opens a WebSocket client connection over a byte stream.
namespace orvane::WebSocketHandshake {

// Longest response head accepted before the blank line that ends it.
inline constexpr std::size_t maxHeadBytes = 16 * 1024;

// A fresh Sec-WebSocket-Key: 16 random bytes from the system's cryptographic source, in base64.
std::string newKey();

// The Sec-WebSocket-Accept value a server must answer for `key`.
std::string acceptFor(std::string_view key);

// The GET request for the daemon's WebSocket endpoint, head and blank line included.
std::string request(std::string_view key);

// Whether a response head (status line and headers, without the blank line) agrees to the
// upgrade asked for with `key`: status 101, the websocket upgrade, the matching accept value, and
// neither an extension we would have to decode nor a subprotocol we did not ask for.
bool accepts(std::string_view head, std::string_view key);

} // namespace orvane::WebSocketHandshake
