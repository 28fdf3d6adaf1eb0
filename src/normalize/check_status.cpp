#include <algorithm>

#include "normalize/pattern.h"
#include "normalize/raw_json.h"
#include "normalize/thread_rules.h"

namespace orvane::CodexNormalizer::ThreadRules {

namespace {

const Pattern &testExpression()
{
    static const Pattern pattern(
        R"((^|\s)(test|vitest|jest|pytest|cargo test|swift test|xcodebuild test)(\s|$))");
    return pattern;
}

const Pattern &buildExpression()
{
    static const Pattern pattern(R"((^|\s)(build|vite build|cargo build|swift build|xcodebuild)(\s|$))");
    return pattern;
}

// The App Server reports a command as its shell runs it (/bin/bash -lc 'npm test'); with the
// quotes gone the words inside them stand alone, as the expressions expect.
std::string unquoted(std::string_view commandLine)
{
    std::string line(commandLine);
    std::replace_if(line.begin(), line.end(), [](char c) { return c == '\'' || c == '"'; }, ' ');
    return line;
}

std::string_view commandStatus(const boost::json::object &item)
{
    const auto status = RawJson::text(item, "status");
    if (status == "inProgress")
        return "running";
    if (status == "completed")
        return "passed";
    return "failed";
}

} // namespace

bool isTestCommand(std::string_view commandLine)
{
    return testExpression().search(unquoted(commandLine));
}

bool isBuildCommand(std::string_view commandLine)
{
    return buildExpression().search(unquoted(commandLine));
}

CheckView checkSummary(const boost::json::array &items)
{
    CheckView checks{.test = "unavailable", .build = "unavailable"};
    for (const auto &element : items) {
        const auto *item = element.if_object();
        if (!item || RawJson::text(*item, "type") != "commandExecution")
            continue;
        const std::string_view result = commandStatus(*item);
        const std::string line = unquoted(RawJson::text(*item, "command").value_or(""));
        if (testExpression().search(line))
            checks.test = result;
        if (buildExpression().search(line))
            checks.build = result;
    }
    return checks;
}

} // namespace orvane::CodexNormalizer::ThreadRules
