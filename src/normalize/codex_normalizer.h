#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "model/records.h"
#include "normalize/git_inspector.h"

// Turns raw App Server payloads into the display records that may leave the machine.
// Pure functions: the clock, the time zone and git are passed in.
namespace orvane::CodexNormalizer {

struct NormalizedThreadResult {
    ThreadView view;
    // The latest turn's identifier, kept to stop that turn later.
    std::optional<std::string> activeTurnID;
    // The raw "cwd"; never published.
    std::optional<std::string> workspace;
    // Secrets replaced in the title, summary and transcript.
    std::int64_t redactionCount = 0;
    friend bool operator==(const NormalizedThreadResult &, const NormalizedThreadResult &) = default;
};

using GitSummary = std::function<std::optional<GitView>(const std::string &path)>;

// The working tree as git reports it now.
inline std::optional<GitView> inspectGit(const std::string &path)
{
    return GitInspector::summary(path);
}

// The calendar day a moment falls on in some time zone.
using LocalDay = std::function<std::chrono::sys_days(std::chrono::system_clock::time_point)>;

// The day in the system's local time zone (the TZ environment, else /etc/localtime).
std::chrono::sys_days systemLocalDay(std::chrono::system_clock::time_point moment);

// Nothing when the thread lacks a text "id" or a numeric "updatedAt"; the caller skips it.
// `gitSummary` runs only when git counts are shared and the thread has a workspace.
std::optional<NormalizedThreadResult> thread(const boost::json::object &raw,
                                             const SharingSettings &settings,
                                             const std::optional<std::string> &model,
                                             const std::optional<std::string> &effort,
                                             std::chrono::system_clock::time_point now,
                                             const GitSummary &gitSummary = inspectGit);
std::optional<NormalizedThreadResult> thread(const boost::json::value &raw,
                                             const SharingSettings &settings,
                                             const std::optional<std::string> &model,
                                             const std::optional<std::string> &effort,
                                             std::chrono::system_clock::time_point now,
                                             const GitSummary &gitSummary = inspectGit);

// `accountResult` and `rateLimitsResult` are the "result" objects of account/read and
// account/rateLimits/read; anything but an object (null for a failed read) counts as missing.
UsageView usage(const boost::json::value &accountResult, const boost::json::value &rateLimitsResult,
                const std::vector<ThreadView> &threads, bool enabled,
                std::chrono::system_clock::time_point now = std::chrono::system_clock::now(),
                const LocalDay &localDay = systemLocalDay);

} // namespace orvane::CodexNormalizer
