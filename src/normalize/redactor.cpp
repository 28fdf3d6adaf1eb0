#include "normalize/redactor.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include <pwd.h>
#include <unistd.h>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "normalize/local_paths.h"
#include "normalize/pattern.h"
#include "normalize/secret_shapes.h"
#include "normalize/unicode_text.h"

namespace orvane::Redactor {

namespace {

constexpr std::string_view redactionMarker = "[REDACTED]";
constexpr std::string_view truncationMarker = "\u2026 [TRUNCATED]";
constexpr std::int64_t truncationReserve = 15;
constexpr std::size_t projectNameLimit = 80;
constexpr std::string_view fallbackProjectName = "Project";

// Applied in this order; each runs on the previous one's result.
constexpr std::array<std::string_view, 6> secretPatternSources = {
    R"(-----BEGIN(?: [A-Z]+)? PRIVATE KEY-----[\s\S]*?-----END(?: [A-Z]+)? PRIVATE KEY-----)",
    R"(\b(?:sk|pk|rk|sess|ghp|github_pat|xox[baprs])[-_][A-Za-z0-9_-]{16,}\b)",
    R"(\bBearer\s+[A-Za-z0-9._~+/=-]{12,}\b)",
    R"(\b(?:password|passwd|pwd|api[_-]?key|secret|token)\s*[:=]\s*[\"']?[^\s,\"']{6,})",
    R"(\b(?:postgres(?:ql)?|mysql|mongodb(?:\+srv)?|redis):\/\/[^\s]+)",
    R"(\bAKIA[0-9A-Z]{16}\b)",
};

// Compiled once for the life of the process; Pattern is safe to share between threads.
const std::array<Pattern, 6> &secretPatterns()
{
    static const std::array<Pattern, 6> patterns{
        Pattern(secretPatternSources[0]), Pattern(secretPatternSources[1]),
        Pattern(secretPatternSources[2]), Pattern(secretPatternSources[3]),
        Pattern(secretPatternSources[4]), Pattern(secretPatternSources[5]),
    };
    return patterns;
}

struct ExtendedPattern {
    Pattern pattern;
    bool withinTokenRuns;
};

const std::vector<ExtendedPattern> &extendedPatterns()
{
    static const std::vector<ExtendedPattern> patterns = [] {
        std::vector<ExtendedPattern> compiled;
        for (const auto &shape : SecretShapes::shapes())
            compiled.push_back({Pattern(shape.source), shape.withinTokenRuns});
        return compiled;
    }();
    return patterns;
}

// A key block can only end at a footer, so nothing after the last one can match the first
// pattern. Searching only up to there keeps a text of unterminated headers linear, where each
// header would otherwise scan the rest of the text.
std::size_t keyBlockSearchEnd(std::string_view text)
{
    static const Pattern footer(R"(-----END(?: [A-Z]+)? PRIVATE KEY-----)");
    return footer.lastMatchEnd(text);
}

std::string replaceCounting(const Pattern &pattern, std::string_view text, std::int64_t &count)
{
    std::size_t replaced = 0;
    std::string result = pattern.replaceAll(text, redactionMarker, &replaced);
    count += static_cast<std::int64_t>(replaced);
    return result;
}

std::string rewriteLocalPaths(std::string_view text, const RedactionContext &context)
{
    std::vector<LocalPaths::Replacement> replacements;
    for (const auto &folder : context.workspace)
        replacements.emplace_back(folder, context.nickname);
    for (const auto &folder : context.home)
        replacements.emplace_back(folder, "~");
    return LocalPaths::rewrite(text, std::move(replacements));
}

// Controls, and format characters such as bidirectional overrides that could make a name
// display as something else, are dropped along with characters unsafe in file names.
bool isRemovedFromName(UChar32 c)
{
    constexpr std::u32string_view unsafe = U"<>:\"|?*";
    const auto type = u_charType(c);
    return type == U_CONTROL_CHAR || type == U_FORMAT_CHAR
        || unsafe.find(static_cast<char32_t>(c)) != std::u32string_view::npos;
}

std::string_view lastComponent(std::string_view path)
{
    const auto end = path.find_last_not_of('/');
    if (end == std::string_view::npos)
        return {};
    path = path.substr(0, end + 1);
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

RedactionResult redact(std::string_view text, std::int64_t limit, const RedactionContext &context)
{
    RedactionResult result{UnicodeText::toValidUtf8(text), 0, false};
    const auto &six = secretPatterns();
    const std::size_t keyBlocksEnd = keyBlockSearchEnd(result.text);
    result.text = replaceCounting(six[0], std::string_view(result.text).substr(0, keyBlocksEnd), result.count)
        + result.text.substr(keyBlocksEnd);
    for (std::size_t index = 1; index < six.size(); ++index)
        result.text = replaceCounting(six[index], result.text, result.count);
    for (const auto &[pattern, withinTokenRuns] : extendedPatterns()) {
        // Most texts have few long tokens; a pass over them alone says whether any is a secret.
        if (!withinTokenRuns || pattern.search(SecretShapes::longTokenRuns(result.text)))
            result.text = replaceCounting(pattern, result.text, result.count);
    }
    result.text = rewriteLocalPaths(result.text, context);
    // Every character takes at least one byte, so a text no longer than the limit in bytes
    // fits; otherwise the first `limit` characters are found without counting the rest.
    const bool fitsByBytes = limit >= 0 && result.text.size() <= static_cast<std::uint64_t>(limit);
    if (!fitsByBytes) {
        const std::string head =
            UnicodeText::firstGraphemes(result.text, static_cast<std::size_t>(std::max<std::int64_t>(0, limit)));
        if (limit < 0 || head.size() < result.text.size()) {
            const auto keep = static_cast<std::size_t>(std::max<std::int64_t>(0, limit - truncationReserve));
            result.text = UnicodeText::firstGraphemes(head, keep);
            result.text += truncationMarker;
            result.truncated = true;
        }
    }
    return result;
}

RedactionContext context(std::string_view workspace, std::string_view home)
{
    RedactionContext result;
    result.workspace = LocalPaths::spellings(workspace);
    if (!result.workspace.empty())
        result.nickname = projectName(workspace);
    result.home = LocalPaths::spellings(home);
    return result;
}

std::string userHome()
{
    if (const char *home = std::getenv("HOME"); home && *home)
        return home;
    const passwd *entry = getpwuid(getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

std::string projectName(std::string_view path)
{
    std::string valid = UnicodeText::toValidUtf8(path);
    std::replace(valid.begin(), valid.end(), '\\', '/');
    const std::string_view component = lastComponent(valid);

    std::string name;
    name.reserve(component.size());
    std::size_t at = 0;
    while (at < component.size()) {
        const std::size_t start = at;
        UChar32 c;
        U8_NEXT(component.data(), at, component.size(), c);
        if (!isRemovedFromName(c))
            name.append(component.substr(start, at - start));
    }
    if (name.empty())
        return std::string(fallbackProjectName);
    return UnicodeText::firstGraphemes(name, projectNameLimit);
}

} // namespace orvane::Redactor
