#include "relay/rate_budget.h"

namespace orvane {

void RateBudget::forgetBefore(const QDateTime &now)
{
    const QDateTime windowStart = now.addSecs(-window_.count());
    for (auto it = spent_.begin(); it != spent_.end();) {
        it->removeIf([&](const QDateTime &at) { return at <= windowStart; });
        it = it->isEmpty() ? spent_.erase(it) : std::next(it);
    }
}

} // namespace orvane
