#include "appserver/message_parsing.h"

#include <boost/json/parse.hpp>

namespace orvane {

std::optional<boost::json::object> parseMessage(std::string_view line)
{
    // Thread payloads nest a few levels deep; the bound only keeps a hostile line from
    // building a tree too deep to destroy.
    boost::json::parse_options options;
    options.max_depth = 1024;
    boost::system::error_code error;
    auto parsed = boost::json::parse(line, error, {}, options);
    if (error || !parsed.is_object())
        return std::nullopt;
    return std::move(parsed.as_object());
}

}
