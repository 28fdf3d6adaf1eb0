#pragma once

#include <chrono>
#include <fstream>
#include <sstream>

#include <boost/json/parse.hpp>

// Real App Server answers (codex-cli 0.171.0) and small raw payloads built in place.
namespace orvane::test {

inline boost::json::value fixture(const std::string &name)
{
    std::stringstream text;
    text << std::ifstream(std::string(ORVANE_NORMALIZE_FIXTURES) + "/" + name).rdbuf();
    return boost::json::parse(text.str());
}

// The "result" of a stored answer, null for an error answer.
inline boost::json::value sampleResult(const std::string &name)
{
    const auto answer = fixture(name);
    return answer.as_object().contains("result") ? answer.at("result") : nullptr;
}

inline std::chrono::sys_seconds at(std::int64_t secondsSince1970)
{
    return std::chrono::sys_seconds(std::chrono::seconds(secondsSince1970));
}

inline boost::json::object command(std::string_view line, std::string_view status = "completed")
{
    return {{"type", "commandExecution"}, {"id", "c"}, {"command", line}, {"status", status}};
}

} // namespace orvane::test
