#include <algorithm>
#include <ctime>
#include <limits>

#include "model/date_formatting.h"
#include "normalize/codex_normalizer.h"
#include "normalize/raw_json.h"

namespace orvane::CodexNormalizer {

namespace {

std::string authenticationMode(const boost::json::object *accountResult)
{
    const auto *account = accountResult ? RawJson::object(*accountResult, "account") : nullptr;
    const auto type = account ? RawJson::text(*account, "type") : std::nullopt;
    if (type == "chatgpt")
        return "chatgpt";
    if (type == "apiKey")
        return "api_key";
    return "unknown";
}

UsageWindow window(const boost::json::object &raw, std::string label)
{
    UsageWindow result;
    result.label = std::move(label);
    result.percentUsed = RawJson::number(raw, "usedPercent");
    if (result.percentUsed)
        result.percentRemaining = std::clamp(100.0 - *result.percentUsed, 0.0, 100.0);
    if (const auto resetsAt = RawJson::number(raw, "resetsAt")) {
        if (const auto moment = RawJson::momentFromSeconds(*resetsAt))
            result.resetAt = DateFormatting::iso(*moment);
    }
    if (const auto minutes = RawJson::number(raw, "windowDurationMins"))
        result.windowMinutes = RawJson::truncatedInt(*minutes);
    return result;
}

std::optional<std::string> ownedText(std::optional<std::string_view> text)
{
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

std::optional<std::string> planType(const boost::json::object &rateLimits,
                                    const boost::json::object *accountResult)
{
    if (const auto plan = RawJson::text(rateLimits, "planType"))
        return std::string(*plan);
    const auto *account = accountResult ? RawJson::object(*accountResult, "account") : nullptr;
    return account ? ownedText(RawJson::text(*account, "planType")) : std::nullopt;
}

void countToday(UsageView &view, const std::vector<ThreadView> &threads,
                std::chrono::system_clock::time_point now, const LocalDay &localDay)
{
    const auto today = localDay(now);
    std::int64_t completed = 0;
    std::int64_t failed = 0;
    std::int64_t activitySeconds = 0;
    for (const auto &thread : threads) {
        const auto updated = DateFormatting::parseIso(thread.updatedAt);
        if (!updated || localDay(*updated) != today)
            continue;
        if (thread.status == ThreadState::finished)
            ++completed;
        if (thread.status == ThreadState::failed)
            ++failed;
        // Saturates: a raw duration may be as large as 64 bits allow.
        if (thread.durationSeconds &&
            __builtin_add_overflow(activitySeconds, *thread.durationSeconds, &activitySeconds)) {
            activitySeconds = *thread.durationSeconds > 0 ? std::numeric_limits<std::int64_t>::max()
                                                          : std::numeric_limits<std::int64_t>::min();
        }
    }
    view.completedToday = completed;
    view.failedToday = failed;
    view.activitySecondsToday = activitySeconds;
}

} // namespace

std::chrono::sys_days systemLocalDay(std::chrono::system_clock::time_point moment)
{
    using namespace std::chrono;
    const std::time_t seconds = system_clock::to_time_t(floor<std::chrono::seconds>(moment));
    std::tm local{};
    if (!localtime_r(&seconds, &local))
        return floor<days>(moment);
    return sys_days(year(local.tm_year + 1900) / month(static_cast<unsigned>(local.tm_mon + 1)) /
                    day(static_cast<unsigned>(local.tm_mday)));
}

UsageView usage(const boost::json::value &accountResult, const boost::json::value &rateLimitsResult,
                const std::vector<ThreadView> &threads, bool enabled,
                std::chrono::system_clock::time_point now, const LocalDay &localDay)
{
    const auto *account = accountResult.if_object();
    UsageView view;
    view.authenticationMode = authenticationMode(account);
    view.updatedAt = DateFormatting::iso(now);
    view.available = false;

    if (!enabled) {
        view.unavailableReason = "Usage sharing is disabled.";
        return view;
    }
    const auto *resultObject = rateLimitsResult.if_object();
    const auto *rateLimits = resultObject ? RawJson::object(*resultObject, "rateLimits") : nullptr;
    if (!rateLimits) {
        view.unavailableReason = "The installed App Server or account did not return rate limits.";
        return view;
    }

    if (const auto *primary = RawJson::object(*rateLimits, "primary"))
        view.windows.push_back(window(*primary, "Primary window"));
    if (const auto *secondary = RawJson::object(*rateLimits, "secondary"))
        view.windows.push_back(window(*secondary, "Secondary window"));
    view.planType = planType(*rateLimits, account);
    if (const auto *credits = RawJson::object(*rateLimits, "credits"))
        view.creditBalance = ownedText(RawJson::text(*credits, "balance"));
    countToday(view, threads, now, localDay);

    view.available = !view.windows.empty();
    if (!view.available)
        view.unavailableReason = "No official usage windows were returned.";
    return view;
}

} // namespace orvane::CodexNormalizer
