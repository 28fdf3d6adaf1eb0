#pragma once

#include <chrono>
#include <functional>

namespace orvane {

// Capped exponential back-off with jitter: attempts 1, 2, 3, 4 wait 2, 4, 8, 16 seconds and
// every later one 30, each scaled by a factor drawn uniformly from [0.75, 1.25].
class ReconnectBackoff {
public:
    // A uniform draw from [0, 1]; 0 gives the factor 0.75 and 1 the factor 1.25.
    using UnitSource = std::function<double()>;

    ReconnectBackoff();
    explicit ReconnectBackoff(UnitSource source);

    static double baseSeconds(int attempt);
    std::chrono::milliseconds delay(int attempt) const;

private:
    UnitSource source_;
};

} // namespace orvane
