#include "relay/reconnect_backoff.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace orvane {

ReconnectBackoff::ReconnectBackoff()
    : ReconnectBackoff([] {
          thread_local std::mt19937_64 engine{std::random_device{}()};
          // Closed at both ends, as the jitter's interval is.
          std::uniform_real_distribution<double> unit(0.0, std::nextafter(1.0, 2.0));
          return std::min(unit(engine), 1.0);
      })
{
}

ReconnectBackoff::ReconnectBackoff(UnitSource source) : source_(std::move(source)) {}

double ReconnectBackoff::baseSeconds(int attempt)
{
    return std::min(std::exp2(std::min(attempt, 5)), 30.0);
}

std::chrono::milliseconds ReconnectBackoff::delay(int attempt) const
{
    const double factor = 0.75 + 0.5 * std::clamp(source_(), 0.0, 1.0);
    return std::chrono::milliseconds(std::llround(baseSeconds(attempt) * factor * 1000.0));
}

} // namespace orvane
