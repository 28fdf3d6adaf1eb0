#pragma once

#include <boost/json/value.hpp>

#include <string>

namespace orvane {

// `value` as JSON indented by two spaces per level, members in their order; strings escaped as the compact form escapes them.
std::string prettyJson(const boost::json::value &value);

} // namespace orvane
