#pragma once

#include "model/records.h"
#include "normalize/codex_normalizer.h"

#include <QCoroTask>

#include <boost/json/object.hpp>

#include <optional>
#include <string>
#include <vector>

// The threads one refresh read, turned into display records off the GUI thread.
namespace orvane::ThreadBatch {

struct ModelChoice {
    std::optional<std::string> model;
    std::optional<std::string> effort;
};

// "model" and "model_reasoning_effort" of a config/read result: inside its "config" object
// when it has one (as the App Server answers), else at its top level.
ModelChoice modelChoice(const std::optional<boost::json::object> &configResult);

struct Input {
    std::vector<boost::json::object> threads; // in list order
    SharingSettings settings;
    ModelChoice choice;
};

// Each thread normalized in order, at the time it is reached, leaving out those the
// normalizer refuses. Threads in the same workspace share one git summary.
std::vector<CodexNormalizer::NormalizedThreadResult>
normalize(const Input &input, const CodexNormalizer::GitSummary &gitSummary = CodexNormalizer::inspectGit);

// The same on a pool thread, since git runs block; resumes on the awaiting thread.
QCoro::Task<std::vector<CodexNormalizer::NormalizedThreadResult>> normalizeOnWorker(Input input);

} // namespace orvane::ThreadBatch
