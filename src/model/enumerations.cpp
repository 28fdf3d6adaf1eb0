#include "model/enumerations.h"

#include <array>

namespace orvane {
namespace {

struct ThreadStateTexts {
    ThreadState state;
    std::string_view raw;
    std::string_view displayName;
    std::string_view activity;
};

constexpr std::array<ThreadStateTexts, 12> threadStateTable{{
    {ThreadState::queued, "queued", "Queued", "Queued…"},
    {ThreadState::thinking, "thinking", "Thinking", "Thinking…"},
    {ThreadState::reading, "reading", "Reading", "Reading the project…"},
    {ThreadState::editing, "editing", "Editing", "Editing files…"},
    {ThreadState::testing, "testing", "Testing", "Running tests…"},
    {ThreadState::building, "building", "Building", "Building the project…"},
    {ThreadState::waitingForApproval, "waiting_for_approval", "Needs approval", "Waiting for approval…"},
    {ThreadState::waitingForUser, "waiting_for_user", "Needs answer", "Waiting for your answer…"},
    {ThreadState::finished, "finished", "Finished", "Finished"},
    {ThreadState::failed, "failed", "Failed", "Task failed"},
    {ThreadState::stopped, "stopped", "Stopped", "Stopped"},
    {ThreadState::unknown, "unknown", "Unknown", "Checking Codex…"},
}};

constexpr std::array<ThreadState, 12> threadStates = [] {
    std::array<ThreadState, 12> states{};
    for (std::size_t i = 0; i < states.size(); ++i)
        states[i] = threadStateTable[i].state;
    return states;
}();

// The table is in enumeration order, so a case's index is its position.
const ThreadStateTexts &texts(ThreadState state)
{
    return threadStateTable[static_cast<std::size_t>(state)];
}

constexpr std::array<TranscriptLevel, 4> transcriptLevels{
    TranscriptLevel::none, TranscriptLevel::messages, TranscriptLevel::activity, TranscriptLevel::full};
constexpr std::array<std::string_view, 4> transcriptLevelRaw{"none", "messages", "activity", "full"};

} // namespace

std::string_view rawValue(ThreadState state) { return texts(state).raw; }
std::string_view displayName(ThreadState state) { return texts(state).displayName; }
std::string_view activity(ThreadState state) { return texts(state).activity; }

std::optional<ThreadState> threadStateFromRaw(std::string_view raw)
{
    for (const auto &entry : threadStateTable) {
        if (entry.raw == raw)
            return entry.state;
    }
    return std::nullopt;
}

std::span<const ThreadState> allThreadStates() { return threadStates; }

std::string_view rawValue(TranscriptLevel level)
{
    return transcriptLevelRaw[static_cast<std::size_t>(level)];
}

std::optional<TranscriptLevel> transcriptLevelFromRaw(std::string_view raw)
{
    for (std::size_t i = 0; i < transcriptLevelRaw.size(); ++i) {
        if (transcriptLevelRaw[i] == raw)
            return transcriptLevels[i];
    }
    return std::nullopt;
}

std::span<const TranscriptLevel> allTranscriptLevels() { return transcriptLevels; }

} // namespace orvane
