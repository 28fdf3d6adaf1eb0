#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

// Secret shapes beyond the six the redactor has always known. Each source is one alternation,
// so a text is scanned a few times rather than once per vendor. Every quantifier is bounded or
// possessive: a hostile text costs time in proportion to its length.
namespace orvane::SecretShapes {

struct Shape {
    std::string_view source;
    // Every match lies inside a run of at least `shortestToken` token characters, so a text
    // whose long runs hold no match can skip the pattern.
    bool withinTokenRuns = false;
};

std::span<const Shape> shapes();

inline constexpr std::size_t shortestToken = 16;

// The runs of at least `shortestToken` token characters, each followed by a line feed: a
// short text to search first.
std::string longTokenRuns(std::string_view text);

} // namespace orvane::SecretShapes
