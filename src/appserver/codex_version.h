#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvane {

// What `codex --version` printed, fit to show: the first line with anything on it, without
// control or format characters, trimmed and at most 64 characters; nothing when no line has.
std::optional<std::string> codexVersionLine(std::string_view output);

} // namespace orvane
