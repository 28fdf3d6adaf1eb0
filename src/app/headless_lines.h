#pragma once

#include "model/records.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// The texts of the headless lines that sum up or explain, without the time in front.
namespace orvane::HeadlessLines {

// '3 threads; current: "Fix the login form", Finished', or "No threads.": the threads found at
// start, told once instead of one change per old thread.
std::string summary(const std::vector<ThreadView> &threads, const std::optional<ThreadView> &current);

// "Codex: through the managed daemon." or "Codex: own App Server." for a connection mode.
std::string connectionMode(const std::string &mode);

// "Relay not connected: REASON. Next try in N s."
std::string relayRetry(const std::string &reason, std::chrono::milliseconds delay);

// What the glasses asked for and how it ended; `threads` names the thread a stop was for.
std::string command(const std::string &type, const std::string &threadId, const std::string &status,
                    const std::string &message, const std::vector<ThreadView> &threads);

} // namespace orvane::HeadlessLines
