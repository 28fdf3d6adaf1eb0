#pragma once

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

// Real App Server answers (codex-cli 0.171.0) and small raw payloads built in place.
namespace orvane::test {

// The "result" of a stored answer, null for an error answer.
inline boost::json::value sampleResult(const std::string &name)
{
    std::stringstream text;
    text << std::ifstream(std::string(ORVANE_NORMALIZE_FIXTURES) + "/" + name).rdbuf();
    const auto answer = boost::json::parse(text.str());
    const auto *result = answer.as_object().if_contains("result");
    return result ? *result : boost::json::value();
}

inline std::chrono::system_clock::time_point at(double secondsSince1970)
{
    return std::chrono::system_clock::time_point(std::chrono::round<std::chrono::system_clock::duration>(
        std::chrono::duration<double>(secondsSince1970)));
}

inline boost::json::value json(std::string_view text)
{
    return boost::json::parse(text);
}

inline boost::json::object command(std::string_view line, std::string_view status = "completed")
{
    return {{"type", "commandExecution"}, {"id", "c"}, {"command", line}, {"status", status}};
}

} // namespace orvane::test
