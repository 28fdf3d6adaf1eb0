#include "normalize/raw_json.h"

#include <cmath>

namespace orvane::CodexNormalizer::RawJson {

namespace {

const boost::json::value *member(const boost::json::object &object, std::string_view key)
{
    return object.if_contains(key);
}

} // namespace

std::optional<double> number(const boost::json::value *value)
{
    if (!value)
        return std::nullopt;
    switch (value->kind()) {
    case boost::json::kind::double_:
        return value->get_double();
    case boost::json::kind::int64:
        return static_cast<double>(value->get_int64());
    case boost::json::kind::uint64:
        return static_cast<double>(value->get_uint64());
    default:
        return std::nullopt;
    }
}

std::optional<double> number(const boost::json::object &object, std::string_view key)
{
    return number(member(object, key));
}

std::optional<std::string_view> text(const boost::json::object &object, std::string_view key)
{
    const auto *value = member(object, key);
    if (!value || !value->is_string())
        return std::nullopt;
    return std::string_view(value->get_string());
}

const boost::json::object *object(const boost::json::object &object, std::string_view key)
{
    const auto *value = member(object, key);
    return value ? value->if_object() : nullptr;
}

const boost::json::array *objectArray(const boost::json::object &object, std::string_view key)
{
    const auto *value = member(object, key);
    const auto *array = value ? value->if_array() : nullptr;
    if (!array)
        return nullptr;
    for (const auto &element : *array) {
        if (!element.is_object())
            return nullptr;
    }
    return array;
}

std::optional<std::int64_t> truncatedInt(double value)
{
    // 2^63 is exact as a double; every double in [-2^63, 2^63) converts without overflow.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(value) || value < -limit || value >= limit)
        return std::nullopt;
    return static_cast<std::int64_t>(std::trunc(value));
}

std::optional<std::chrono::system_clock::time_point> momentFromSeconds(double seconds)
{
    using Clock = std::chrono::system_clock;
    // Whole milliseconds, the precision of every timestamp text: a double holds them exactly
    // where it cannot hold the clock's nanoseconds (1796597842.25 s must not read back as .249).
    const auto milliseconds = truncatedInt(std::round(seconds * 1000.0));
    constexpr auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::duration::max()).count();
    if (!milliseconds || *milliseconds <= -limit || *milliseconds >= limit)
        return std::nullopt;
    return Clock::time_point(std::chrono::milliseconds(*milliseconds));
}

double secondsSince1970(std::chrono::system_clock::time_point moment)
{
    return std::chrono::duration<double>(moment.time_since_epoch()).count();
}

} // namespace orvane::CodexNormalizer::RawJson
