#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Unicode helpers over UTF-8 text, backed by ICU. Invalid UTF-8 never crashes any of them.
namespace orvane::UnicodeText {

// Invalid sequences become U+FFFD.
std::string toValidUtf8(std::string_view bytes);

bool isValidUtf8(std::string_view bytes);

// Number of user-perceived characters (extended grapheme clusters).
std::size_t graphemeCount(std::string_view utf8);

// The first `count` grapheme clusters; never cuts inside a cluster or a UTF-8 sequence.
std::string firstGraphemes(std::string_view utf8, std::size_t count);

// Whether the code point has the Unicode numeric property (any numeric type).
bool isNumeric(char32_t c);

} // namespace orvane::UnicodeText
