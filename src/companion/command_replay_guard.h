#pragma once

#include "model/date_formatting.h"

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace orvane {

// Remembers the commands acted on until they expire, so one the relay delivers again (or an
// attacker replays) is dropped. Bounded: while it is full, new commands are dropped too,
// since forgetting early would let a replay through.
class CommandReplayGuard {
public:
    using Clock = DateFormatting::Clock;

    static constexpr std::size_t capacity = 4096;

    // True when `commandId` was not seen before (letter case aside: it is one UUID) and is now
    // remembered until `expiresAt`.
    bool admit(std::string_view commandId, Clock::time_point expiresAt, Clock::time_point now);

private:
    std::map<std::string, Clock::time_point, std::less<>> seen_;
};

} // namespace orvane
