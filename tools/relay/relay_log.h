#pragma once

#include <string>
#include <string_view>

namespace orvane {

// One line on standard error per thing an operator may ask about later. Never give it a PIN or
// a token: ids go through shortId().
void relayLog(std::string_view line);

// The first 8 characters of an id: enough to follow one pairing or channel through the log.
std::string shortId(std::string_view id);

} // namespace orvane
