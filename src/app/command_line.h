#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// Flags are matched anywhere in the argument list, exactly; the short forms -h and -V and the
// joined form --pair=PIN are read as their long forms. Other arguments are ignored, but those
// that look like options are collected so that a mistyped flag can be named.
class CommandLine {
public:
    CommandLine(int argc, char **argv);

    bool has(std::string_view flag) const;

    // The argument after the flag; nothing when the flag is absent or last.
    std::optional<std::string_view> valueAfter(std::string_view flag) const;

    // The arguments after the flag up to the next one starting with '-'.
    std::vector<std::string> valuesAfter(std::string_view flag) const;

    // Arguments starting with '-' that are no flag of ours, in the order given.
    const std::vector<std::string> &unknownOptions() const { return unknown_; }

private:
    std::vector<std::string> arguments_;
    std::vector<std::string> unknown_;
};

} // namespace orvane
