#include "relay/relay_log.h"

#include <cstdio>
#include <ctime>

namespace orvane {

void relayLog(std::string_view line)
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%FT%TZ", &utc);
    std::fprintf(stderr, "%s orvane-relay: %.*s\n", stamp, static_cast<int>(line.size()), line.data());
}

std::string shortId(std::string_view id)
{
    return std::string(id.substr(0, 8));
}

} // namespace orvane
