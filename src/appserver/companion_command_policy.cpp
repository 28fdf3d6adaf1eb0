#include "appserver/companion_command_policy.h"

namespace orvane::CompanionCommandPolicy {

const std::set<std::string, std::less<>> &allowed()
{
    static const std::set<std::string, std::less<>> commands{"stop_thread", "request_snapshot",
                                                             "mark_notification_seen"};
    return commands;
}

} // namespace orvane::CompanionCommandPolicy
