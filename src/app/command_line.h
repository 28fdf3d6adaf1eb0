#pragma once

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

namespace orvane {

// Flags are matched anywhere in the argument list, exactly; other arguments are ignored.
class CommandLine {
public:
    CommandLine(int argc, char **argv) : m_arguments(argv + std::min(argc, 1), argv + argc) {}

    bool has(std::string_view flag) const
    {
        return std::find(m_arguments.begin(), m_arguments.end(), flag) != m_arguments.end();
    }

    // The argument after the flag; nothing when the flag is absent or last.
    std::optional<std::string_view> valueAfter(std::string_view flag) const
    {
        const auto found = std::find(m_arguments.begin(), m_arguments.end(), flag);
        if (found == m_arguments.end() || found + 1 == m_arguments.end())
            return std::nullopt;
        return *(found + 1);
    }

private:
    std::vector<std::string_view> m_arguments;
};

} // namespace orvane
