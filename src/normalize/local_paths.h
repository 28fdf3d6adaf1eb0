#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Rewrites absolute local paths inside a text, so the directory layout never leaves.
namespace orvane::LocalPaths {

// A folder and what it becomes: "/home/dev/work/app" and "app", "/home/dev" and "~".
using Replacement = std::pair<std::string, std::string>;

// Replaces every occurrence of a folder that stands as whole path components: not preceded by
// a name character and followed by "/", the end, or a character that ends a name (a full stop
// only when no name character follows it). Longer folders win over shorter ones. Folders that
// are not absolute, or are the root, are ignored.
std::string rewrite(std::string_view text, std::vector<Replacement> replacements);

// `path` without trailing slashes, and the same with symbolic links resolved as far as the
// folders exist; one entry when both are the same. Empty for a path that is not absolute.
std::vector<std::string> spellings(std::string_view path);

} // namespace orvane::LocalPaths
