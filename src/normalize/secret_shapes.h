#pragma once

#include <span>
#include <string_view>

// Secret shapes beyond the six the redactor has always known. Each source is one alternation,
// so a text is scanned a few times rather than once per vendor. Every quantifier is bounded or
// possessive: a hostile text costs time in proportion to its length.
namespace orvane::SecretShapes {

std::span<const std::string_view> sources();

} // namespace orvane::SecretShapes
