#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

// Defensive readers for raw App Server payloads: a member of the wrong JSON type counts as
// missing, so a payload of an unexpected shape degrades field by field instead of throwing.
namespace orvane::CodexNormalizer::RawJson {

// A JSON number as a double, whether written as an integer or a fraction.
std::optional<double> number(const boost::json::value *value);
std::optional<double> number(const boost::json::object &object, std::string_view key);

std::optional<std::string_view> text(const boost::json::object &object, std::string_view key);
const boost::json::object *object(const boost::json::object &object, std::string_view key);

// An array whose elements are all objects; one element of another type makes it missing.
const boost::json::array *objectArray(const boost::json::object &object, std::string_view key);

// Truncated toward zero; nothing when not finite or outside the 64-bit range.
std::optional<std::int64_t> truncatedInt(double value);

// Seconds since 1970 as a moment to the nearest millisecond; nothing when the clock cannot
// represent it.
std::optional<std::chrono::system_clock::time_point> momentFromSeconds(double seconds);

double secondsSince1970(std::chrono::system_clock::time_point moment);

} // namespace orvane::CodexNormalizer::RawJson
