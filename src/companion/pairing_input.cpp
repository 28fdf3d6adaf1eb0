#include "companion/pairing_input.h"

#include "normalize/unicode_text.h"

#include <unicode/utf8.h>

namespace orvane::PairingInput {

std::optional<std::string> pin(std::string_view typed)
{
    std::string digits;
    std::size_t count = 0;
    std::size_t at = 0;
    while (at < typed.size()) {
        const std::size_t start = at;
        UChar32 c;
        U8_NEXT(typed.data(), at, typed.size(), c);
        if (c >= 0 && UnicodeText::isNumeric(static_cast<char32_t>(c))) {
            digits.append(typed, start, at - start);
            ++count;
        }
    }
    if (count != pinLength)
        return std::nullopt;
    return digits;
}

} // namespace orvane::PairingInput
