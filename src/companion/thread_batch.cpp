#include "companion/thread_batch.h"

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

QThreadPool &workerPool()
{
    // Never destroyed: a job still running at exit must not hold the exit up.
    static QThreadPool *pool = [] {
        auto *created = new QThreadPool;
        created->setMaxThreadCount(1);
        return created;
    }();
    return *pool;
}

} // namespace orvane::ThreadBatch
