#pragma once

#include <string_view>

namespace orvane {

// The companion's own version, as the debug report and every snapshot give it.
inline constexpr std::string_view companionVersion = "0.1.0";

} // namespace orvane
