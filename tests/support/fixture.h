#pragma once
// Tables of cases and stored payloads are JSON files in the fixtures/ folder beside the test.
#include <boost/json/parse.hpp>

#include <fstream>
#include <sstream>
#include <string>

namespace orvane::test {

inline boost::json::value fixture(const std::string &name)
{
    std::stringstream text;
    text << std::ifstream(ORVANE_FIXTURES "/" + name).rdbuf();
    return boost::json::parse(text.str());
}

} // namespace orvane::test
