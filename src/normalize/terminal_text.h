#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Outside text (relay messages, Codex titles and errors, anything from the environment) made
// safe for a terminal: no escape sequences, no bidirectional reordering, bounded length.
namespace orvane::TerminalText {

// User-perceived characters kept of one printed line.
inline constexpr std::size_t lineLimit = 500;
// Lines kept of a printed block.
inline constexpr std::size_t blockLineLimit = 100;

// One line: tabs and line breaks become blanks; the other C0 and C1 controls, DEL and the
// bidirectional embedding, override and isolate marks are removed; invalid UTF-8 becomes
// U+FFFD; past `limit` characters the rest becomes "…".
std::string line(std::string_view text, std::size_t limit = lineLimit);

// Several lines: each cleaned as one line, line feeds kept, at most `blockLineLimit` lines.
std::string block(std::string_view text, std::size_t limit = lineLimit);

} // namespace orvane::TerminalText
