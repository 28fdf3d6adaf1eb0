#include "normalize/terminal_text.h"

#include "normalize/unicode_text.h"

#include <unicode/utf8.h>

namespace orvane::TerminalText {
namespace {

bool isBidiControl(char32_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

} // namespace

std::string line(std::string_view text, std::size_t limit)
{
    // Even a long cluster takes far fewer bytes than this per character; the rest never shows.
    const std::size_t byteBudget = (limit + 1) * 64;
    const bool cut = text.size() > byteBudget;
    const std::string valid = UnicodeText::toValidUtf8(text.substr(0, byteBudget));
    std::string kept;
    kept.reserve(valid.size());
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(valid.data());
    const auto length = static_cast<std::int32_t>(valid.size());
    for (std::int32_t offset = 0; offset < length;) {
        const std::int32_t start = offset;
        UChar32 c = 0;
        U8_NEXT(bytes, offset, length, c);
        if (c == '\t' || c == '\n' || c == '\r')
            kept += ' ';
        else if (c >= 0 && !isControl(char32_t(c)) && !isBidiControl(char32_t(c)))
            kept.append(valid, std::size_t(start), std::size_t(offset - start));
    }
    if (!cut && UnicodeText::graphemeCount(kept) <= limit)
        return kept;
    return UnicodeText::firstGraphemes(kept, limit == 0 ? 0 : limit - 1) + "\u2026";
}

std::string block(std::string_view text, std::size_t limit)
{
    std::string cleaned;
    std::size_t lines = 0;
    while (lines < blockLineLimit) {
        const auto end = text.find('\n');
        cleaned += line(text.substr(0, end), limit);
        ++lines;
        if (end == std::string_view::npos)
            return cleaned;
        text.remove_prefix(end + 1);
        cleaned += '\n';
    }
    return cleaned + "\u2026";
}

} // namespace orvane::TerminalText
