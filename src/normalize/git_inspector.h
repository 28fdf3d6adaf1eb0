#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/records.h"

// Summaries of a workspace's git working tree, from short runs of /usr/bin/git.
// Blocking: call from a worker thread, never the GUI thread.
namespace orvane::GitInspector {

// Nothing when the path does not exist, is not inside a git work tree, or `git status` fails.
// All git runs of one summary together take at most `timeLimit`; a run still going then is
// killed and counts as failed.
std::optional<GitView> summary(const std::string &path, std::chrono::milliseconds timeLimit);

// The same, bounded at 15 seconds.
std::optional<GitView> summary(const std::string &path);

struct NumstatTotals {
    std::int64_t files = 0;
    std::int64_t additions = 0;
    std::int64_t deletions = 0;
    friend bool operator==(const NumstatTotals &, const NumstatTotals &) = default;
};

// What a watch of a work tree needs to see every change `summary` reports: the work tree's top
// folder, its git folders (its own, with HEAD and the index, and the common one, with refs and
// packed-refs) and every folder holding a file in the index, top first. Nothing outside a work
// tree, or when the index names more than `folderLimit` folders.
struct WorkTreeLayout {
    std::string top;
    std::vector<std::string> gitFolders;
    std::vector<std::string> indexedFolders;
};
std::optional<WorkTreeLayout> layout(const std::string &path, std::chrono::milliseconds timeLimit,
                                     std::size_t folderLimit);

// Sums a `git diff --numstat` listing; binary files count as files with 0 lines.
NumstatTotals parseNumstat(std::string_view output);

} // namespace orvane::GitInspector
