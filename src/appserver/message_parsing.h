#pragma once
#include <boost/json/object.hpp>

#include <optional>
#include <string_view>

namespace orvane {

// One message from the App Server: a JSON object, or nothing for anything else (invalid
// JSON, an array, a number, an empty line).
std::optional<boost::json::object> parseMessage(std::string_view line);

}
