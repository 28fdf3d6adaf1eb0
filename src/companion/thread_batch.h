#pragma once

#include "model/records.h"
#include "normalize/codex_normalizer.h"

#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <QCoroFuture>
#include <QCoroTask>

#include <boost/json/object.hpp>

#include <memory>
#include <optional>
#include <string>
#include <type_traits>

// The threads one refresh read, turned into display records off the GUI thread.
namespace orvane::ThreadBatch {

struct ModelChoice {
    std::optional<std::string> model;
    std::optional<std::string> effort;
    friend bool operator==(const ModelChoice &, const ModelChoice &) = default;
};

// "model" and "model_reasoning_effort" of a config/read result: inside its "config" object
// when it has one (as the App Server answers), else at its top level.
ModelChoice modelChoice(const std::optional<boost::json::object> &configResult);

// The one thread normalization and git runs happen on: refreshes that overlap queue behind each
// other instead of each waking a thread (and a malloc arena) of its own.
QThreadPool &workerPool();

// Runs `job` on the worker pool, since git runs block; resumes on the awaiting thread. The job
// owns what it captured, so it may outlive the coroutine that started it.
template <typename Job>
QCoro::Task<std::invoke_result_t<Job &>> onWorker(Job job)
{
    using Result = std::invoke_result_t<Job &>;
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    workerPool().start([promise, job = std::move(job)]() mutable {
        try {
            promise->addResult(job());
        } catch (...) {
            promise->setException(std::current_exception());
        }
        promise->finish();
    });
    co_return co_await future;
}

} // namespace orvane::ThreadBatch
