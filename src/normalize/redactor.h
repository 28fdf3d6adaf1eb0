#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvane {

struct RedactionResult {
    std::string text;
    std::int64_t count = 0;
    bool truncated = false;
    friend bool operator==(const RedactionResult &, const RedactionResult &) = default;
};

// The last privacy filter before text leaves the machine.
namespace Redactor {

inline constexpr std::int64_t transcriptLimit = 8000;
inline constexpr std::int64_t summaryLimit = 2000;
inline constexpr std::int64_t commandResultLimit = 300;

// Replaces secret shapes with "[REDACTED]" and cuts the result to `limit` user-perceived
// characters. Invalid UTF-8 is repaired first. Safe from any thread.
RedactionResult redact(std::string_view text, std::int64_t limit);

// The last path component, cleaned of characters unsafe in a name, at most 80 characters.
std::string projectName(std::string_view path);

} // namespace Redactor
} // namespace orvane
