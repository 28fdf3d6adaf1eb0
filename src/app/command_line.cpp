#include "app/command_line.h"

#include <algorithm>
#include <array>

namespace orvane {
namespace {

constexpr std::array<std::string_view, 11> knownFlags{
    "--self-test", "--codex-integration-test", "--help",    "--version",  "--headless", "--hidden",
    "--pair",      "--unpair",                 "--status",  "--sharing",  "--snapshot"};

constexpr std::string_view joinedPair = "--pair=";

} // namespace

CommandLine::CommandLine(int argc, char **argv)
{
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument(argv[index]);
        if (argument == "-h") {
            arguments_.emplace_back("--help");
        } else if (argument == "-V") {
            arguments_.emplace_back("--version");
        } else if (argument.starts_with(joinedPair)) {
            arguments_.emplace_back("--pair");
            arguments_.emplace_back(argument.substr(joinedPair.size()));
            continue;
        } else {
            arguments_.emplace_back(argument);
        }
        const std::string_view flag = arguments_.back();
        // A PIN may not start with '-', but the value of --pair is never taken for an option.
        const bool pairValue = arguments_.size() > 1 && arguments_[arguments_.size() - 2] == "--pair";
        if (flag.starts_with('-') && !pairValue
            && std::find(knownFlags.begin(), knownFlags.end(), flag) == knownFlags.end())
            unknown_.emplace_back(argument);
    }
}

bool CommandLine::has(std::string_view flag) const
{
    return std::find(arguments_.begin(), arguments_.end(), flag) != arguments_.end();
}

std::optional<std::string_view> CommandLine::valueAfter(std::string_view flag) const
{
    const auto found = std::find(arguments_.begin(), arguments_.end(), flag);
    if (found == arguments_.end() || found + 1 == arguments_.end())
        return std::nullopt;
    return *(found + 1);
}

std::vector<std::string> CommandLine::valuesAfter(std::string_view flag) const
{
    auto found = std::find(arguments_.begin(), arguments_.end(), flag);
    std::vector<std::string> values;
    if (found == arguments_.end())
        return values;
    for (++found; found != arguments_.end() && !found->starts_with('-'); ++found)
        values.push_back(*found);
    return values;
}

} // namespace orvane
