#include "companion/command_replay_guard.h"

#include <algorithm>
#include <cctype>

namespace orvane {

bool CommandReplayGuard::admit(std::string_view commandId, Clock::time_point expiresAt, Clock::time_point now)
{
    std::erase_if(seen_, [now](const auto &entry) { return entry.second <= now; });
    std::string key(commandId);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (seen_.contains(key) || seen_.size() >= capacity)
        return false;
    seen_.emplace(std::move(key), expiresAt);
    return true;
}

} // namespace orvane
