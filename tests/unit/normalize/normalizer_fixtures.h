#pragma once

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

// Real App Server answers (codex-cli 0.171.0) and small raw payloads built in place.
namespace orvane::test {

inline boost::json::value sampleAnswer(const std::string &name)
{
    std::ifstream file(std::string(ORVANE_NORMALIZE_FIXTURES) + "/" + name);
    std::stringstream text;
    text << file.rdbuf();
    return boost::json::parse(text.str());
}

inline boost::json::value sampleResult(const std::string &name)
{
    const auto answer = sampleAnswer(name);
    const auto *result = answer.as_object().if_contains("result");
    return result ? *result : boost::json::value();
}

inline boost::json::object sampleThread(const std::string &name)
{
    return sampleResult(name).at("thread").as_object();
}

inline std::chrono::system_clock::time_point at(double secondsSince1970)
{
    return std::chrono::system_clock::time_point(
        std::chrono::round<std::chrono::system_clock::duration>(
            std::chrono::duration<double>(secondsSince1970)));
}

inline boost::json::value json(std::string_view text)
{
    return boost::json::parse(text);
}

// A thread updated at 1796597842 whose only turn is `turn`.
inline boost::json::object threadWithTurn(const boost::json::value &turn)
{
    return boost::json::object{{"id", "t-1"}, {"updatedAt", 1796597842}, {"turns", boost::json::array{turn}}};
}

inline boost::json::object command(std::string_view line, std::string_view status = "completed")
{
    return {{"type", "commandExecution"}, {"id", "c"}, {"command", line}, {"status", status}};
}

} // namespace orvane::test
