#include "companion/git_cadence.h"

namespace orvane {

GitCadence::GitCadence(CodexNormalizer::GitSummary inspect, std::chrono::milliseconds interval)
    : inspect_(std::move(inspect)), interval_(interval)
{
}

std::optional<GitView> GitCadence::summary(const std::string &path, bool changed, Clock::time_point now)
{
    {
        const std::lock_guard lock(mutex_);
        const auto found = answers_.find(path);
        // A clock set back counts as due, so an answer cannot stay for ever.
        if (!changed && found != answers_.end() && now >= found->second.at && now - found->second.at < interval_)
            return found->second.view;
    }
    auto view = inspect_(path);
    const std::lock_guard lock(mutex_);
    answers_[path] = Answer{view, now};
    return view;
}

void GitCadence::keepOnly(const std::set<std::string> &paths)
{
    const std::lock_guard lock(mutex_);
    std::erase_if(answers_, [&](const auto &answer) { return !paths.contains(answer.first); });
}

} // namespace orvane
