#include "normalize/local_paths.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace orvane::LocalPaths {

namespace {

// Bytes of UTF-8 sequences count as name characters, so "/home/dev" never matches inside
// "/home/devé".
bool isNameCharacter(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x80 || std::isalnum(byte) || c == '_' || c == '-' || c == '.';
}

bool startsWhole(std::string_view text, std::size_t at)
{
    return at == 0 || !isNameCharacter(text[at - 1]);
}

bool endsWhole(std::string_view text, std::size_t end)
{
    if (end == text.size() || text[end] == '/')
        return true;
    if (text[end] == '.')
        return end + 1 == text.size() || !isNameCharacter(text[end + 1]) || text[end + 1] == '.';
    return !isNameCharacter(text[end]);
}

std::string withoutTrailingSlashes(std::string_view path)
{
    const auto end = path.find_last_not_of('/');
    return std::string(path.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

// The next whole occurrence of `folder` at or after `from`, or npos.
std::size_t nextWhole(std::string_view text, std::string_view folder, std::size_t from)
{
    for (auto at = text.find(folder, from); at != std::string_view::npos; at = text.find(folder, at + 1)) {
        if (startsWhole(text, at) && endsWhole(text, at + folder.size()))
            return at;
    }
    return std::string_view::npos;
}

} // namespace

std::string rewrite(std::string_view text, std::vector<Replacement> replacements)
{
    std::erase_if(replacements, [](const Replacement &r) { return r.first.size() < 2 || r.first.front() != '/'; });
    std::stable_sort(replacements.begin(), replacements.end(),
                     [](const Replacement &a, const Replacement &b) { return a.first.size() > b.first.size(); });
    std::vector<std::size_t> next(replacements.size());
    for (std::size_t i = 0; i < replacements.size(); ++i)
        next[i] = nextWhole(text, replacements[i].first, 0);

    std::string result;
    std::size_t copied = 0;
    while (true) {
        // The earliest occurrence; among equal starts the longest folder, which comes first.
        std::size_t chosen = replacements.size();
        for (std::size_t i = 0; i < replacements.size(); ++i) {
            if (next[i] != std::string_view::npos && (chosen == replacements.size() || next[i] < next[chosen]))
                chosen = i;
        }
        if (chosen == replacements.size())
            break;
        const std::size_t at = next[chosen];
        result.append(text.substr(copied, at - copied));
        result.append(replacements[chosen].second);
        copied = at + replacements[chosen].first.size();
        for (std::size_t i = 0; i < replacements.size(); ++i) {
            if (next[i] != std::string_view::npos && next[i] < copied)
                next[i] = nextWhole(text, replacements[i].first, copied);
        }
    }
    if (copied == 0)
        return std::string(text);
    result.append(text.substr(copied));
    return result;
}

std::vector<std::string> spellings(std::string_view path)
{
    std::vector<std::string> result;
    const std::string given = withoutTrailingSlashes(path);
    if (given.empty() || given.front() != '/')
        return result;
    result.push_back(given);
    std::error_code error;
    const auto resolved = std::filesystem::weakly_canonical(std::filesystem::path(given), error);
    if (!error) {
        std::string text = withoutTrailingSlashes(resolved.string());
        if (!text.empty() && text != given)
            result.push_back(std::move(text));
    }
    return result;
}

} // namespace orvane::LocalPaths
