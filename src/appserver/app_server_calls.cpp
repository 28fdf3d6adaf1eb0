#include "appserver/app_server_client.h"

#include "appserver/app_server_error.h"

#include <algorithm>

namespace orvane {
namespace {

// Built outside the coroutines: GCC 12 cannot keep string-literal initializer lists in a
// coroutine frame.
boost::json::value listParams(std::int64_t limit, bool indexOnly)
{
    // Every user-facing source: the App Server's default leaves out `codex exec` threads.
    // Sub-agent threads stay out; they belong to the thread that started them.
    boost::json::object params{{"limit", limit},
                               {"sortKey", "updated_at"},
                               {"sortDirection", "desc"},
                               {"archived", false},
                               {"sourceKinds", boost::json::array{"cli", "vscode", "exec", "appServer"}}};
    // Scanning every session file for repairs costs the App Server more than the rest of a
    // poll; once a connection's first list has repaired its index, the index answers alone. It
    // holds threads other processes start, and their session files tell their turns.
    if (indexOnly)
        params["useStateDbOnly"] = true;
    return params;
}

boost::json::value readParams(const std::string &threadID)
{
    return boost::json::object{{"threadId", threadID}, {"includeTurns", true}};
}

boost::json::value interruptParams(const std::string &threadID, const std::string &turnID)
{
    return boost::json::object{{"threadId", threadID}, {"turnId", turnID}};
}

}

QCoro::Task<boost::json::array> AppServerClient::listThreads(std::int64_t limit)
{
    const auto connection = m_connectionCount;
    auto result = co_await m_transport->request("thread/list", listParams(limit, m_listedOnConnection == connection));
    auto *data = result.is_object() ? result.as_object().if_contains("data") : nullptr;
    if (!data || !data->is_array()
        || !std::all_of(data->as_array().begin(), data->as_array().end(),
                        [](const boost::json::value &thread) { return thread.is_object(); }))
        throw AppServerError::invalidResponse();
    m_listedOnConnection = connection;
    co_return std::move(data->as_array());
}

QCoro::Task<boost::json::object> AppServerClient::readThread(std::string id)
{
    auto result = co_await m_transport->request("thread/read", readParams(id));
    auto *thread = result.is_object() ? result.as_object().if_contains("thread") : nullptr;
    if (!thread || !thread->is_object())
        throw AppServerError::invalidResponse();
    co_return std::move(thread->as_object());
}

QCoro::Task<std::optional<boost::json::object>> AppServerClient::account()
{
    return optionalRead("account/read", boost::json::object{{"refreshToken", false}});
}

QCoro::Task<std::optional<boost::json::object>> AppServerClient::rateLimits()
{
    return optionalRead("account/rateLimits/read", nullptr);
}

QCoro::Task<std::optional<boost::json::object>> AppServerClient::config()
{
    return optionalRead("config/read", boost::json::object{{"includeLayers", false}});
}

QCoro::Task<std::optional<boost::json::object>> AppServerClient::optionalRead(std::string method,
                                                                             boost::json::value params)
{
    // An App Server that lacks the method, or fails it in any way, simply offers nothing.
    try {
        auto result = co_await m_transport->request(std::move(method), std::move(params));
        if (result.is_object())
            co_return std::move(result.as_object());
    } catch (...) {
    }
    co_return std::nullopt;
}

QCoro::Task<void> AppServerClient::interrupt(std::string threadID, std::string turnID)
{
    co_await m_transport->request("turn/interrupt", interruptParams(threadID, turnID));
}

}
