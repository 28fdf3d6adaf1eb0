// The proxy's WebSocket: a server's upgrade answer, or, once upgraded, the frames it sends.
#include "appserver/websocket_framing.h"
#include "appserver/websocket_handshake.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const bool frames = data[0] & 1;
    std::string_view bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
    orvane::WebSocketFraming framing;
    const std::string request = framing.start();
    if (frames) {
        // A key is 16 bytes in base64: 24 characters.
        const std::string key = request.substr(request.find("Sec-WebSocket-Key: ") + 19, 24);
        const auto fed = framing.feed("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                      "Sec-WebSocket-Accept: " + orvane::WebSocketHandshake::acceptFor(key) + "\r\n\r\n");
        if (fed.failed || !framing.ready())
            __builtin_trap();
    }
    // Two chunks, so frames split anywhere are reached.
    const std::size_t cut = bytes.empty() ? 0 : std::uint8_t(bytes[0]) % (bytes.size() + 1);
    for (const auto chunk : {bytes.substr(0, cut), bytes.substr(cut)})
        if (framing.feed(chunk).failed)
            break;
    if (framing.ready())
        (void)framing.encode(bytes.substr(0, 64));
    return 0;
}
