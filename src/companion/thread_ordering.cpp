#include "companion/thread_ordering.h"

#include <algorithm>

namespace orvane::ThreadOrdering {

bool isActive(ThreadState state)
{
    switch (state) {
    case ThreadState::finished:
    case ThreadState::failed:
    case ThreadState::stopped:
    case ThreadState::unknown:
        return false;
    default:
        return true;
    }
}

void sortForDisplay(std::vector<ThreadView> &threads)
{
    std::stable_sort(threads.begin(), threads.end(), [](const ThreadView &a, const ThreadView &b) {
        const bool aActive = isActive(a.status);
        const bool bActive = isActive(b.status);
        if (aActive != bActive)
            return aActive;
        return a.updatedAt > b.updatedAt;
    });
}

} // namespace orvane::ThreadOrdering
