#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// The one timestamp text of every record: UTC, three fractional digits, trailing "Z"
// (2026-03-04T05:06:07.089Z).
namespace orvane::DateFormatting {

using Clock = std::chrono::system_clock;

std::string iso(Clock::time_point moment);

// Reads an internet date-time back: "Z" or a numeric offset, fractional seconds optional
// unless `requireNoFraction`, which refuses them. Moments before 1970 (in UTC) and after what
// the clock holds (April 2262) are refused.
std::optional<Clock::time_point> parseIso(std::string_view text, bool requireNoFraction = false);

} // namespace orvane::DateFormatting
