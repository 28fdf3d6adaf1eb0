#include "companion/git_cadence.h"

namespace orvane {

namespace {

constexpr std::chrono::seconds layoutTimeLimit{15};
// Far above most projects' folder counts, and far below the user's inotify watch limit.
constexpr std::size_t folderLimit = 4096;

} // namespace

GitCadence::GitCadence(CodexNormalizer::GitSummary inspect, std::chrono::milliseconds interval,
                       std::chrono::milliseconds watchedInterval)
    : inspect_(std::move(inspect)), interval_(interval), watchedInterval_(watchedInterval)
{
}

std::optional<GitView> GitCadence::summary(const std::string &path, bool changed, Clock::time_point now)
{
    bool describe = false;
    {
        const std::lock_guard lock(mutex_);
        const auto change = watch_.take(path);
        const bool watched = watch_.watches(path);
        const auto found = answers_.find(path);
        const bool answered = found != answers_.end();
        const auto interval = watched ? watchedInterval_ : interval_;
        // A clock set back counts as due, so an answer cannot stay for ever.
        if (!changed && change == WorkTreeWatch::Change::none && answered && now >= found->second.at
            && now - found->second.at < interval)
            return found->second.view;
        // A work tree is described the first time, once a summary finds one, and when its git
        // folders change (the index may name new folders).
        describe = change == WorkTreeWatch::Change::gitFolders
                || (!watched && (!answered || (found->second.view && !found->second.unwatchable)));
    }
    // The watch is in place before git looks, so no change made while git runs goes unseen.
    if (describe)
        watchAnew(path);
    auto view = inspect_(path);
    const std::lock_guard lock(mutex_);
    auto &answer = answers_[path];
    answer.view = view;
    answer.at = now;
    return view;
}

void GitCadence::watchAnew(const std::string &path)
{
    const auto layout = GitInspector::layout(path, layoutTimeLimit, folderLimit);
    const std::lock_guard lock(mutex_);
    if (layout && watch_.watch(path, *layout))
        return;
    watch_.forget(path);
    answers_[path].unwatchable = layout.has_value();
}

void GitCadence::keepOnly(const std::set<std::string> &paths)
{
    const std::lock_guard lock(mutex_);
    std::erase_if(answers_, [&](const auto &answer) {
        if (paths.contains(answer.first))
            return false;
        watch_.forget(answer.first);
        return true;
    });
}

} // namespace orvane
