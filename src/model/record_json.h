#pragma once

// The JSON form shared by every described record (see records.h). Included by records.h.

#include <boost/describe/members.hpp>
#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/mp11/algorithm.hpp>

#include <exception>
#include <limits>
#include <stdexcept>
#include <type_traits>

namespace orvane {
namespace record_json {

template <typename T>
concept Described = boost::describe::has_describe_members<T>::value;

template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};
template <typename T>
struct IsVector : std::false_type {};
template <typename T>
struct IsVector<std::vector<T>> : std::true_type {};

[[noreturn]] inline void reject(const char *why)
{
    throw std::invalid_argument(why);
}

// Strict reading of one JSON value as a field type: no conversion between JSON types, except
// that a Double field takes any number.
template <typename T>
T read(const boost::json::value &value)
{
    if constexpr (std::is_same_v<T, std::string>) {
        if (!value.is_string())
            reject("expected a string");
        return std::string(value.get_string());
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!value.is_bool())
            reject("expected a boolean");
        return value.get_bool();
    } else if constexpr (std::is_same_v<T, std::int64_t>) {
        if (value.is_int64())
            return value.get_int64();
        if (value.is_uint64() && value.get_uint64() <= std::uint64_t(std::numeric_limits<std::int64_t>::max()))
            return static_cast<std::int64_t>(value.get_uint64());
        reject("expected a 64-bit integer");
    } else if constexpr (std::is_same_v<T, double>) {
        if (!value.is_number())
            reject("expected a number");
        return value.to_number<double>();
    } else if constexpr (IsVector<T>::value) {
        if (!value.is_array())
            reject("expected an array");
        T items;
        items.reserve(value.get_array().size());
        for (const auto &item : value.get_array())
            items.push_back(read<typename T::value_type>(item));
        return items;
    } else {
        return boost::json::value_to<T>(value);
    }
}

// Missing and null are both absent for an optional field; any other wrong type still fails.
template <typename T>
void readField(const boost::json::object &object, const char *key, T &field)
{
    const auto *value = object.if_contains(key);
    if constexpr (IsOptional<T>::value) {
        if (!value || value->is_null())
            field.reset();
        else
            field = read<typename T::value_type>(*value);
    } else {
        if (!value)
            reject("missing key");
        field = read<T>(*value);
    }
}

template <typename T>
void writeField(boost::json::object &object, const char *key, const T &field)
{
    if constexpr (IsOptional<T>::value) {
        if (field)
            object[key] = boost::json::value_from(*field, object.storage());
    } else {
        object[key] = boost::json::value_from(field, object.storage());
    }
}

} // namespace record_json

template <record_json::Described Record>
void tag_invoke(boost::json::value_from_tag, boost::json::value &json, const Record &record)
{
    auto &object = json.emplace_object();
    boost::mp11::mp_for_each<boost::describe::describe_members<Record, boost::describe::mod_public>>(
        [&](auto member) { record_json::writeField(object, member.name, record.*member.pointer); });
}

template <record_json::Described Record>
Record tag_invoke(boost::json::value_to_tag<Record>, const boost::json::value &json)
{
    if (!json.is_object())
        record_json::reject("expected a JSON object");
    Record record;
    boost::mp11::mp_for_each<boost::describe::describe_members<Record, boost::describe::mod_public>>(
        [&](auto member) { record_json::readField(json.get_object(), member.name, record.*member.pointer); });
    return record;
}

template <typename Record>
std::string encode(const Record &record)
{
    return boost::json::serialize(boost::json::value_from(record));
}

template <typename Record>
std::optional<Record> decode(const boost::json::value &json)
{
    try {
        return boost::json::value_to<Record>(json);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

template <typename Record>
std::optional<Record> decodeText(std::string_view jsonText)
{
    boost::system::error_code error;
    const auto json = boost::json::parse(jsonText, error);
    if (error)
        return std::nullopt;
    return decode<Record>(json);
}

} // namespace orvane
