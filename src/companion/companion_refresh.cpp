// The refresh cycle: Codex's threads and account in, display records and a snapshot out.
#include "companion/companion_model.h"

#include "companion/notification_policy.h"
#include "companion/thread_batch.h"
#include "companion/thread_ordering.h"

#include <algorithm>

#include <malloc.h>

namespace orvane {
namespace {

boost::json::value orNull(const std::optional<boost::json::object> &result)
{
    return result ? boost::json::value(*result) : boost::json::value(nullptr);
}

} // namespace

// The one place a refresh gets an App Server to talk to. A child still running is reused; one
// still shaking hands (for a refresh a notification started meanwhile) is waited for. Only the
// daemon shows turns that other Codex processes run, so a dedicated child gives way to it once
// the daemon answers the probe.
QCoro::Task<void> CompanionModel::ensureAppServer()
{
    co_await appServer_->connect();
    if (!appServer_->daemonRecheckDue(options_.daemonRecheckInterval))
        co_return;
    const AliveToken alive = alive_;
    const bool daemon = co_await appServer_->probeDaemon();
    if (!*alive || !daemon || !appServer_->onDedicatedChild())
        co_return;
    ++daemonMoves_;
    co_await appServer_->reconnect();
}

QCoro::Task<void> CompanionModel::refresh()
{
    const AliveToken alive = alive_;
    const auto previous = NotificationPolicy::statesById(threads_);

    std::optional<std::string> failure;
    try {
        co_await ensureAppServer();
    } catch (const std::exception &error) {
        failure = error.what();
    }
    if (!*alive)
        co_return;
    if (failure) {
        refreshFailed(*failure);
        co_return;
    }
    setCodexConnected(true);
    const auto moves = daemonMoves_;
    const auto connection = appServer_->connectionCount();
    const auto askedAt = AccountReads::Clock::now();
    const bool askAccount = accountReads_.due(connection, threadsMoved_, askedAt);
    const auto &kept = accountReads_.last();

    // Started now, collected later: they overlap with the list and the thread reads.
    auto account = askAccount ? appServer_->account() : AccountReads::ready(kept.account);
    auto rateLimits = askAccount ? appServer_->rateLimits() : AccountReads::ready(kept.rateLimits);
    auto config = askAccount ? appServer_->config() : AccountReads::ready(kept.config);

    boost::json::array listed;
    try {
        listed = co_await appServer_->listThreads(threadLimit);
    } catch (const std::exception &error) {
        failure = error.what();
    }
    if (failure) {
        // Requests in flight cannot be withdrawn: wait for them and drop what they bring.
        co_await std::move(config);
        co_await std::move(rateLimits);
        co_await std::move(account);
        if (*alive && moves == daemonMoves_)
            refreshFailed(*failure);
        co_return;
    }
    if (!*alive)
        co_return;

    // Taken before the reads, which it decides on. Assigned, not initialized: GCC 12 frees an
    // aggregate built around a co_await twice.
    ThreadCache::Context context;
    const auto configResult = co_await std::move(config);
    if (!*alive)
        co_return;
    context.choice = ThreadBatch::modelChoice(configResult);
    context.settings = settings_;
    context.connection = connection;
    const auto currentId = currentThread_ ? std::optional<std::string>(currentThread_->id) : std::nullopt;

    // One read at a time, only of threads that can have changed; a thread that cannot be read
    // in full shows what the list said.
    std::vector<ThreadCache::Listed> threads;
    std::size_t readInFull = 0;
    const auto count = std::min<std::size_t>(listed.size(), static_cast<std::size_t>(threadLimit));
    for (std::size_t index = 0; index < count; ++index) {
        auto &entry = listed[index].as_object();
        const auto *id = entry.if_contains("id");
        if (!id || !id->is_string())
            continue;
        std::string threadId(id->as_string());
        auto thread = ThreadCache::listed(std::move(threadId), std::move(entry));
        if (threadCache_->mustRead(thread, currentId, context)) {
            thread.source = ThreadCache::Source::listEntry;
            try {
                thread.raw = co_await appServer_->readThread(thread.id);
                thread.source = ThreadCache::Source::readInFull;
                ++readInFull;
            } catch (const std::exception &) {
            }
            if (!*alive)
                co_return;
        }
        threads.push_back(std::move(thread));
    }
    // Reads the move cut short fell back on list entries, which know nothing of running turns.
    if (moves != daemonMoves_)
        co_return;
    auto results = co_await updateOnWorker(threadCache_, std::move(threads), context);
    if (!*alive)
        co_return;

    // Replaced whole, so a stop command never meets a half-built map.
    std::map<std::string, std::string> turns;
    std::map<std::string, std::int64_t> redactions;
    std::vector<ThreadView> fresh;
    fresh.reserve(results.size());
    for (auto &result : results) {
        if (result.activeTurnID)
            turns[result.view.id] = *result.activeTurnID;
        redactions[result.view.id] += result.redactionCount;
        fresh.push_back(std::move(result.view));
    }
    activeTurns_ = std::move(turns);
    redactions_.record(redactions);
    ThreadOrdering::sortForDisplay(fresh);
    setThreads(std::move(fresh));
    setCurrentThread(threads_.empty() ? std::nullopt : std::optional<ThreadView>(threads_.front()));

    for (const auto &notification :
         NotificationPolicy::newlyReached(previous, threads_, settings_.nativeNotifications))
        notifier_.post(notification);

    const auto accountResult = co_await std::move(account);
    if (!*alive)
        co_return;
    const auto rateLimitsResult = co_await std::move(rateLimits);
    if (!*alive)
        co_return;
    if (askAccount)
        accountReads_.keep({accountResult, rateLimitsResult, configResult}, connection, askedAt);
    threadsMoved_ = readInFull > 0;
    auto usage = CodexNormalizer::usage(orNull(accountResult), orNull(rateLimitsResult), threads_,
                                        settings_.usageMetrics);
    authenticationMode_ = usage.authenticationMode;
    setUsage(std::move(usage));
    setLastSync(std::chrono::system_clock::now());
    setLastError(std::nullopt);
    publishSnapshot();
    // A refresh that read many threads parsed and freed megabytes: the pages go back to the
    // system. Not after every refresh, since giving pages back and faulting them in again costs
    // more than the one thread an idle refresh reads.
    if (readInFull > 1)
        ::malloc_trim(0);
}

// Earlier threads, usage and sync time stay; paired glasses still learn Codex is unreachable.
void CompanionModel::refreshFailed(const std::string &reason)
{
    setCodexConnected(false);
    setLastError(reason);
    publishSnapshot();
}

} // namespace orvane
