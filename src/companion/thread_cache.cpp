#include "companion/thread_cache.h"

#include "companion/thread_ordering.h"
#include "normalize/thread_rules.h"

#include <boost/json/serialize.hpp>

#include <functional>
#include <set>

#include <sys/stat.h>

namespace orvane {
namespace {

std::string serialized(const boost::json::object &object, std::string_view key)
{
    const auto *value = object.if_contains(key);
    return value ? boost::json::serialize(*value) : std::string("-");
}

// The members of the latest turn a running duration is computed from.
boost::json::object timingOf(const boost::json::object &raw)
{
    boost::json::object timing;
    if (const auto *turn = CodexNormalizer::ThreadRules::latestTurn(raw))
        for (const auto *key : {"startedAt", "completedAt", "durationMs", "status"})
            if (const auto *value = turn->if_contains(key))
                timing[key] = *value;
    return timing;
}

// A kept result as a full normalization at `now` would build it: only the running duration
// depends on the clock.
ThreadCache::Result refreshed(ThreadCache::Result result, const boost::json::object &timing,
                              const SharingSettings &settings, ThreadCache::Clock::time_point now)
{
    if (settings.elapsedTime && !timing.empty())
        result.view.durationSeconds = CodexNormalizer::ThreadRules::durationSeconds(timing, now);
    return result;
}

} // namespace

ThreadCache::ThreadCache(CodexNormalizer::GitSummary inspectGit, std::chrono::milliseconds gitInterval)
    : git_(std::move(inspectGit), gitInterval)
{
}

ThreadCache::Listed ThreadCache::listed(std::string id, boost::json::object entry)
{
    Listed thread{std::move(id), serialized(entry, "updatedAt") + '\n' + serialized(entry, "status") + '\n'
                                     + serialized(entry, "name"),
                  {}, Source::cached};
    // A turn another App Server runs grows the thread's session file, while the list entry a
    // dedicated child shows keeps its time and status until the turn ends.
    const auto *path = entry.if_contains("path");
    struct stat file {};
    thread.hasSessionFile = path && path->is_string() && ::stat(std::string(path->as_string()).c_str(), &file) == 0;
    if (thread.hasSessionFile)
        thread.listKey += '\n' + std::to_string(file.st_size) + ' ' + std::to_string(file.st_mtim.tv_sec) + '.'
                          + std::to_string(file.st_mtim.tv_nsec);
    thread.raw = std::move(entry);
    return thread;
}

bool ThreadCache::mustRead(const Listed &thread, const std::optional<std::string> &currentId,
                           const Context &context) const
{
    // Without a session file to tell a turn in another process, the current thread is read
    // every time.
    if (currentId == thread.id && !thread.hasSessionFile)
        return true;
    const std::lock_guard lock(mutex_);
    const auto found = kept_.find(thread.id);
    if (found == kept_.end())
        return true;
    const Kept &kept = *found->second;
    return !kept.readInFull || kept.listKey != thread.listKey || !(kept.context == context)
        || ThreadOrdering::isActive(kept.result.view.status);
}

std::vector<ThreadCache::Result> ThreadCache::update(std::vector<Listed> threads, const Context &context,
                                                     Clock::time_point now)
{
    KeptMap previous;
    {
        const std::lock_guard lock(mutex_);
        previous = kept_;
    }
    KeptMap next;
    // Workspaces whose git summary is due now: one of their threads changed or runs.
    std::map<std::string, bool> workspaces;
    for (auto &listed : threads) {
        const auto found = previous.find(listed.id);
        const Kept *before = found == previous.end() ? nullptr : found->second.get();
        std::shared_ptr<const Kept> kept;
        bool changed = false;
        if (listed.source == Source::cached && before && before->context == context) {
            kept = found->second;
        } else {
            const std::size_t rawKey = std::hash<std::string>{}(boost::json::serialize(listed.raw));
            const bool readInFull = listed.source == Source::readInFull;
            if (before && before->rawKey == rawKey && before->readInFull == readInFull && before->context == context) {
                kept = found->second;
            } else {
                auto result = CodexNormalizer::thread(listed.raw, context.settings, context.choice.model,
                                                      context.choice.effort, now, nullptr);
                if (!result)
                    continue;
                kept = std::make_shared<const Kept>(Kept{listed.listKey, rawKey, readInFull, context,
                                                         std::move(*result), timingOf(listed.raw)});
                changed = true;
            }
        }
        // Parsed payloads are the largest allocations of a refresh; none outlives its view.
        listed.raw = {};
        if (const auto &workspace = kept->result.workspace)
            workspaces[*workspace] |= changed || ThreadOrdering::isActive(kept->result.view.status);
        if (kept->listKey != listed.listKey) {
            auto relisted = std::make_shared<Kept>(*kept);
            relisted->listKey = listed.listKey;
            kept = std::move(relisted);
        }
        next.insert_or_assign(listed.id, std::move(kept));
    }

    std::map<std::string, std::optional<GitView>> summaries;
    std::set<std::string> paths;
    for (const auto &[path, due] : workspaces) {
        paths.insert(path);
        if (context.settings.gitSummary)
            summaries[path] = git_.summary(path, due, now);
    }
    // Without git summaries shared, no workspace stays watched.
    git_.keepOnly(context.settings.gitSummary ? paths : std::set<std::string>{});

    std::vector<Result> results;
    results.reserve(threads.size());
    for (const auto &listed : threads) {
        const auto found = next.find(listed.id);
        if (found == next.end())
            continue;
        auto result = refreshed(found->second->result, found->second->timing, context.settings, now);
        if (context.settings.gitSummary && result.workspace)
            result.view.git = summaries[*result.workspace];
        results.push_back(std::move(result));
    }
    {
        const std::lock_guard lock(mutex_);
        kept_ = std::move(next);
    }
    return results;
}

QCoro::Task<std::vector<ThreadCache::Result>> updateOnWorker(std::shared_ptr<ThreadCache> cache,
                                                             std::vector<ThreadCache::Listed> threads,
                                                             ThreadCache::Context context)
{
    return ThreadBatch::onWorker([cache = std::move(cache), threads = std::move(threads), context = std::move(context)]() mutable {
        return cache->update(std::move(threads), context, ThreadCache::Clock::now());
    });
}

} // namespace orvane
