// Internet date-times from outside: whatever parses must be a moment the formatter can write.
#include "model/date_formatting.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace orvane;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    for (const bool noFraction : {false, true})
        if (const auto moment = DateFormatting::parseIso(text, noFraction)) {
            const auto written = DateFormatting::iso(*moment);
            if (written.size() != 24 || written < "1969" || !DateFormatting::parseIso(written))
                __builtin_trap();
        }
    return 0;
}
