#pragma once

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include <exception>

namespace orvane {

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
