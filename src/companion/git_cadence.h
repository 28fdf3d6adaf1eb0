#pragma once

#include "companion/work_tree_watch.h"
#include "normalize/codex_normalizer.h"

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace orvane {

// Git summaries of workspaces, asked of git again only when a workspace can have changed: when
// the caller says so (one of its threads changed or is running), when the watch of its work tree
// and git folders saw a change, or when the last answer is `interval` old (`watchedInterval`
// for a watched workspace, as a watch misses changes on some network file systems). Between
// those, the last answer stands.
class GitCadence {
public:
    using Clock = std::chrono::system_clock;

    explicit GitCadence(CodexNormalizer::GitSummary inspect = CodexNormalizer::inspectGit,
                        std::chrono::milliseconds interval = std::chrono::seconds(30),
                        std::chrono::milliseconds watchedInterval = std::chrono::minutes(5));

    // Blocks while git runs; git runs outside the lock, so two callers may ask at once.
    std::optional<GitView> summary(const std::string &path, bool changed, Clock::time_point now);
    // Forgets the workspaces not named.
    void keepOnly(const std::set<std::string> &paths);

private:
    struct Answer {
        std::optional<GitView> view;
        Clock::time_point at;
        // A work tree too large to watch is not described again at every answer.
        bool unwatchable = false;
    };

    void watchAnew(const std::string &path);

    CodexNormalizer::GitSummary inspect_;
    std::chrono::milliseconds interval_;
    std::chrono::milliseconds watchedInterval_;
    std::mutex mutex_;
    std::map<std::string, Answer> answers_;
    WorkTreeWatch watch_;
};

} // namespace orvane
