// Free text from Codex: redaction, the project nickname of a path, and terminal cleaning.
#include "normalize/redactor.h"
#include "normalize/terminal_text.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace orvane;
    if (size == 0)
        return 0;
    const std::int64_t limit = data[0];
    const std::string_view text(reinterpret_cast<const char *>(data) + 1, size - 1);
    (void)Redactor::redact(text, limit);
    (void)Redactor::projectName(text);
    const std::string shown = TerminalText::line(text, limit);
    for (const char c : shown)
        if ((static_cast<unsigned char>(c) < 0x20) || c == 0x7f)
            __builtin_trap();
    return 0;
}
