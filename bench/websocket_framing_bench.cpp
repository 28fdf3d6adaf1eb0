// Decoding the daemon's frames and encoding requests: the WebSocket cost on the proxy path.
#include <benchmark/benchmark.h>

#include <string>

#include "appserver/websocket_framing.h"
#include "appserver/websocket_handshake.h"

namespace {

using namespace orvane;

// An unmasked final text frame, as a server writes it.
std::string serverFrame(const std::string &payload)
{
    std::string bytes = "\x81";
    const std::uint64_t length = payload.size();
    if (length < 126) {
        bytes += static_cast<char>(length);
    } else if (length <= 0xffff) {
        bytes += static_cast<char>(126);
        bytes += static_cast<char>(length >> 8);
        bytes += static_cast<char>(length & 0xff);
    } else {
        bytes += static_cast<char>(127);
        for (int shift = 56; shift >= 0; shift -= 8)
            bytes += static_cast<char>((length >> shift) & 0xff);
    }
    return bytes + payload;
}

// A framing past its handshake.
void open(WebSocketFraming &framing)
{
    const std::string request = framing.start();
    const auto at = request.find("Sec-WebSocket-Key: ") + 19;
    const std::string key = request.substr(at, request.find("\r\n", at) - at);
    framing.feed("HTTP/1.1 101 Switching Protocols\r\nconnection: Upgrade\r\nupgrade: websocket\r\n"
                 "sec-websocket-accept: " + WebSocketHandshake::acceptFor(key) + "\r\n\r\n");
}

// A stream of messages of one size, read in 64 KiB chunks like a pipe delivers them.
void decode(benchmark::State &state)
{
    const std::string payload = "{\"method\":\"item/updated\",\"params\":{\"text\":\"" +
                                std::string(static_cast<std::size_t>(state.range(0)), 'x') + "\"}}";
    std::string stream;
    while (stream.size() < (8u << 20))
        stream += serverFrame(payload);
    constexpr std::size_t chunk = 64 * 1024;
    for (auto _ : state) {
        WebSocketFraming framing;
        open(framing);
        std::size_t messages = 0;
        for (std::size_t at = 0; at < stream.size(); at += chunk)
            messages += framing.feed(std::string_view(stream).substr(at, chunk)).messages.size();
        benchmark::DoNotOptimize(messages);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(decode)->Arg(100)->Arg(10'000)->Arg(1'000'000);

void encode(benchmark::State &state)
{
    WebSocketFraming framing;
    open(framing);
    const std::string message = "{\"method\":\"thread/read\",\"id\":7,\"params\":{\"threadId\":\"" +
                                std::string(36, 'a') + "\",\"includeTurns\":true}}";
    for (auto _ : state)
        benchmark::DoNotOptimize(framing.encode(message));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}
BENCHMARK(encode);

} // namespace

BENCHMARK_MAIN();
