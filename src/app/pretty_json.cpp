#include "app/pretty_json.h"

#include <boost/json/serialize.hpp>

namespace orvane {
namespace {

void write(const boost::json::value &value, int depth, std::string &out)
{
    const std::string inner(std::size_t(depth + 1) * 2, ' ');
    const std::string outer(std::size_t(depth) * 2, ' ');
    if (const auto *object = value.if_object(); object && !object->empty()) {
        out += "{\n";
        bool first = true;
        for (const auto &member : *object) {
            out += std::exchange(first, false) ? "" : ",\n";
            out += inner + boost::json::serialize(boost::json::value(member.key())) + ": ";
            write(member.value(), depth + 1, out);
        }
        out += "\n" + outer + "}";
    } else if (const auto *array = value.if_array(); array && !array->empty()) {
        out += "[\n";
        bool first = true;
        for (const auto &element : *array) {
            out += std::exchange(first, false) ? "" : ",\n";
            out += inner;
            write(element, depth + 1, out);
        }
        out += "\n" + outer + "]";
    } else {
        out += boost::json::serialize(value);
    }
}

} // namespace

std::string prettyJson(const boost::json::value &value)
{
    std::string out;
    write(value, 0, out);
    return out;
}

} // namespace orvane
