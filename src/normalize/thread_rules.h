#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include "model/records.h"
#include "normalize/redactor.h"

// The rules the thread normalizer is made of, each over raw App Server objects. Separate from
// `thread` so they can be checked one at a time.
namespace orvane::CodexNormalizer::ThreadRules {

// The turn with the greatest "startedAt" (missing counts as 0); the first of equals wins.
const boost::json::object *latestTurn(const boost::json::object &rawThread);

// `turn` is the latest turn, null when the thread has none.
ThreadState deriveState(const boost::json::object &rawThread, const boost::json::object *turn);

// Whole seconds the turn took or, while it runs, has taken so far; never below 0.
std::optional<std::int64_t> durationSeconds(const boost::json::object &turn,
                                            std::chrono::system_clock::time_point now);

bool isTestCommand(std::string_view commandLine);
bool isBuildCommand(std::string_view commandLine);

// Statuses of the latest test and build commands among the items.
CheckView checkSummary(const boost::json::array &items);

// A one-line description of a tool item that never holds its content.
std::optional<std::string> activityLabel(std::string_view type, const boost::json::object &item);

// Nothing at level `none`; else at most the last 100 entries, redacted in `context`.
std::optional<std::vector<TranscriptEntry>> buildTranscript(const boost::json::array &items,
                                                            TranscriptLevel level,
                                                            const std::string &updatedAt,
                                                            const RedactionContext &context);

} // namespace orvane::CodexNormalizer::ThreadRules
