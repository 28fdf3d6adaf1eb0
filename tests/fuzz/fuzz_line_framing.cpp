// App Server output: bytes split into lines, each line parsed as one message.
#include "appserver/line_framing.h"
#include "appserver/message_parsing.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    // A small line limit, so overlong lines are reached too; the input arrives in two chunks.
    orvane::LineFraming framing(4096);
    const std::size_t cut = size ? data[0] % (size + 1) : 0;
    for (const auto chunk : {bytes.substr(0, cut), bytes.substr(cut)}) {
        const auto fed = framing.feed(chunk);
        for (const auto &line : fed.messages)
            (void)orvane::parseMessage(line);
        if (fed.failed)
            break;
    }
    return 0;
}
