#include "companion/thread_batch.h"

#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <QCoroFuture>

#include <chrono>
#include <map>
#include <memory>

namespace orvane::ThreadBatch {
namespace {

std::optional<std::string> text(const boost::json::object &object, std::string_view key)
{
    const auto *value = object.if_contains(key);
    if (value && value->is_string())
        return std::string(value->as_string());
    return std::nullopt;
}

} // namespace

ModelChoice modelChoice(const std::optional<boost::json::object> &configResult)
{
    if (!configResult)
        return {};
    const auto *nested = configResult->if_contains("config");
    const auto &config = nested && nested->is_object() ? nested->as_object() : *configResult;
    return {text(config, "model"), text(config, "model_reasoning_effort")};
}

std::vector<CodexNormalizer::NormalizedThreadResult> normalize(const Input &input,
                                                               const CodexNormalizer::GitSummary &gitSummary)
{
    std::map<std::string, std::optional<GitView>> summaries;
    const CodexNormalizer::GitSummary shared = [&](const std::string &path) {
        auto found = summaries.find(path);
        if (found == summaries.end())
            found = summaries.emplace(path, gitSummary(path)).first;
        return found->second;
    };
    std::vector<CodexNormalizer::NormalizedThreadResult> results;
    for (const auto &raw : input.threads) {
        auto result = CodexNormalizer::thread(raw, input.settings, input.choice.model, input.choice.effort,
                                              std::chrono::system_clock::now(), shared);
        if (result)
            results.push_back(std::move(*result));
    }
    return results;
}

QCoro::Task<std::vector<CodexNormalizer::NormalizedThreadResult>> normalizeOnWorker(Input input)
{
    using Results = std::vector<CodexNormalizer::NormalizedThreadResult>;
    auto promise = std::make_shared<QPromise<Results>>();
    QFuture<Results> future = promise->future();
    promise->start();
    auto shared = std::make_shared<Input>(std::move(input));
    QThreadPool::globalInstance()->start([promise, shared] {
        try {
            promise->addResult(normalize(*shared));
        } catch (...) {
            promise->setException(std::current_exception());
        }
        promise->finish();
    });
    co_return co_await future;
}

} // namespace orvane::ThreadBatch
