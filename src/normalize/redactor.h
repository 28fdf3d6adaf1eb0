#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

struct RedactionResult {
    std::string text;
    std::int64_t count = 0;
    bool truncated = false;
    friend bool operator==(const RedactionResult &, const RedactionResult &) = default;
};

// Where a text comes from: the thread's workspace and the user's home, each as given and with
// symbolic links resolved. Paths in the text below them leave as the nickname or "~".
struct RedactionContext {
    std::vector<std::string> workspace;
    std::string nickname;
    std::vector<std::string> home;
    friend bool operator==(const RedactionContext &, const RedactionContext &) = default;
};

// The last privacy filter before text leaves the machine.
namespace Redactor {

inline constexpr std::int64_t transcriptLimit = 8000;
inline constexpr std::int64_t summaryLimit = 2000;
inline constexpr std::int64_t commandResultLimit = 300;

// Replaces secret shapes with "[REDACTED]", rewrites the context's paths, and cuts the result
// to `limit` user-perceived characters. Invalid UTF-8 is repaired first. Pure; safe from any
// thread. `count` counts the secrets only.
RedactionResult redact(std::string_view text, std::int64_t limit, const RedactionContext &context = {});

// The context of a thread in `workspace` (none when empty) for a user whose home is `home`;
// the one place that looks at the file system, to resolve symbolic links.
RedactionContext context(std::string_view workspace, std::string_view home);

// The user's home folder from the environment, empty when unknown.
std::string userHome();

// The last path component, cleaned of characters unsafe in a name, at most 80 characters.
std::string projectName(std::string_view path);

} // namespace Redactor
} // namespace orvane
