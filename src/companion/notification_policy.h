#pragma once

#include "model/records.h"

#include <map>
#include <string>
#include <vector>

// Which threads deserve a desktop notification after a refresh, and what it says.
namespace orvane::NotificationPolicy {

// One notification: a later one with the same identifier replaces it.
struct Notification {
    std::string identifier; // thread id, "-", raw state
    std::string title;      // the state's display name
    std::string body;       // the first 160 characters of the thread's title
    friend bool operator==(const Notification &, const Notification &) = default;
};

inline constexpr std::size_t bodyLimit = 160;

// Finished, failed, stopped, or waiting for approval or for the user.
bool isNotified(ThreadState state);

// Each thread's state, by thread id, as a refresh finds them before it starts.
std::map<std::string, ThreadState> statesById(const std::vector<ThreadView> &threads);

// The notifications for `threads` (in display order) that newly reached a notified state:
// seen for the first time in it, or in it now and in another state before. None when the user
// turned notifications off.
std::vector<Notification> newlyReached(const std::map<std::string, ThreadState> &previous,
                                       const std::vector<ThreadView> &threads, bool enabled);

Notification notificationFor(const ThreadView &thread);

} // namespace orvane::NotificationPolicy
