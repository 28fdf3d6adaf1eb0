#pragma once
// Tables of cases and stored payloads are JSON files in the fixtures/ folder beside the test.
#include <boost/json/parse.hpp>

#include <fstream>
#include <iterator>
#include <string>

namespace orvane::test {

inline boost::json::value fixture(const std::string &name)
{
    std::ifstream file(ORVANE_FIXTURES "/" + name);
    return boost::json::parse(std::string(std::istreambuf_iterator<char>(file), {}));
}

} // namespace orvane::test
