#pragma once

#include "companion/git_cadence.h"
#include "companion/thread_batch.h"

#include <boost/json/object.hpp>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// What earlier refreshes made of each thread, so that a refresh reads, normalizes and asks git
// about only what can have changed, and still ends with the records a refresh reading and
// normalizing everything would build.
class ThreadCache {
public:
    using Result = CodexNormalizer::NormalizedThreadResult;
    using Clock = std::chrono::system_clock;

    // What a view is built from besides the raw thread, and which App Server connection read it.
    struct Context {
        SharingSettings settings;
        ThreadBatch::ModelChoice choice;
        std::uint64_t connection = 0;
        friend bool operator==(const Context &, const Context &) = default;
    };

    enum class Source { cached, readInFull, listEntry };

    // One listed thread as a refresh has it: `raw` is the full thread when read, else its list
    // entry; `cached` asks for the view kept from before. `listKey` is what of the list entry
    // tells that the thread changed: its "updatedAt", "status" and "name", and the size and
    // modification time of the session file its "path" names, when there is one.
    struct Listed {
        std::string id;
        std::string listKey;
        boost::json::object raw;
        Source source = Source::listEntry;
        bool hasSessionFile = false;
    };

    explicit ThreadCache(CodexNormalizer::GitSummary inspectGit = CodexNormalizer::inspectGit,
                         std::chrono::milliseconds gitInterval = std::chrono::seconds(30));

    // The list entry of thread `id`, to be taken from the cache unless the caller reads it. Its
    // session file is looked at here, once.
    static Listed listed(std::string id, boost::json::object entry);

    // Whether a listed thread must be read in full: never read in full before, its list key
    // differs from the one last seen, it was active when last read, it is the current thread
    // and has no session file, or its view was built with other settings, model or effort, or
    // read through another connection.
    bool mustRead(const Listed &thread, const std::optional<std::string> &currentId, const Context &context) const;

    // The listed threads' results in list order, leaving out those the normalizer refuses. A
    // thread read again is normalized unless its raw form and context are those of its kept
    // view; a kept view gets its running duration recomputed for `now`. Each raw thread is
    // released once its view is built; threads no longer listed are forgotten.
    std::vector<Result> update(std::vector<Listed> threads, const Context &context, Clock::time_point now);

private:
    struct Kept {
        std::string listKey;
        std::size_t rawKey = 0;
        bool readInFull = false;
        Context context;
        Result result;
        // The latest turn's clock fields, for a duration that grows while the turn runs.
        boost::json::object timing;
    };
    using KeptMap = std::map<std::string, std::shared_ptr<const Kept>>;

    mutable std::mutex mutex_;
    KeptMap kept_;
    GitCadence git_;
};

// `update` on the worker pool, at the time the job runs. The job holds the cache, so the cache
// outlives a model destroyed meanwhile.
QCoro::Task<std::vector<ThreadCache::Result>> updateOnWorker(std::shared_ptr<ThreadCache> cache,
                                                             std::vector<ThreadCache::Listed> threads,
                                                             ThreadCache::Context context);

} // namespace orvane
