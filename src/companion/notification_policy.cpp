#include "companion/notification_policy.h"

#include "normalize/unicode_text.h"

namespace orvane::NotificationPolicy {

bool isNotified(ThreadState state)
{
    switch (state) {
    case ThreadState::finished:
    case ThreadState::failed:
    case ThreadState::stopped:
    case ThreadState::waitingForApproval:
    case ThreadState::waitingForUser:
        return true;
    default:
        return false;
    }
}

std::map<std::string, ThreadState> statesById(const std::vector<ThreadView> &threads)
{
    std::map<std::string, ThreadState> states;
    for (const auto &thread : threads)
        states.insert_or_assign(thread.id, thread.status);
    return states;
}

std::vector<Notification> newlyReached(const std::map<std::string, ThreadState> &previous,
                                       const std::vector<ThreadView> &threads, bool enabled)
{
    std::vector<Notification> notifications;
    if (!enabled)
        return notifications;
    for (const auto &thread : threads) {
        if (!isNotified(thread.status))
            continue;
        const auto before = previous.find(thread.id);
        if (before == previous.end() || before->second != thread.status)
            notifications.push_back(notificationFor(thread));
    }
    return notifications;
}

Notification notificationFor(const ThreadView &thread)
{
    return {thread.id + "-" + std::string(rawValue(thread.status)),
            std::string(displayName(thread.status)),
            UnicodeText::firstGraphemes(thread.title, bodyLimit)};
}

} // namespace orvane::NotificationPolicy
