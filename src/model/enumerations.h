#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace orvane {

// What a thread is doing, as the glasses show it.
enum class ThreadState {
    queued,
    thinking,
    reading,
    editing,
    testing,
    building,
    waitingForApproval,
    waitingForUser,
    finished,
    failed,
    stopped,
    unknown,
};

std::string_view rawValue(ThreadState state);
std::string_view displayName(ThreadState state);
std::string_view activity(ThreadState state);
std::optional<ThreadState> threadStateFromRaw(std::string_view raw);
std::span<const ThreadState> allThreadStates();

// How much of a thread's conversation may leave the machine.
enum class TranscriptLevel {
    none,
    messages,
    activity,
    full,
};

std::string_view rawValue(TranscriptLevel level);
std::optional<TranscriptLevel> transcriptLevelFromRaw(std::string_view raw);
std::span<const TranscriptLevel> allTranscriptLevels();

} // namespace orvane
