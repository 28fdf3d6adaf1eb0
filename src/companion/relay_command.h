#pragma once

#include "model/date_formatting.h"

#include <boost/json/object.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace orvane {

// An inbound relay command that passed every check, with the fields its handling needs.
struct RelayCommand {
    enum class Kind { requestSnapshot, markNotificationSeen, stopThread };
    Kind kind = Kind::requestSnapshot;
    std::string commandId; // exactly as received
    std::string threadId;  // stopThread only
    DateFormatting::Clock::time_point expiresAt;
    friend bool operator==(const RelayCommand &, const RelayCommand &) = default;
};

namespace RelayCommands {

// The longest thread identifier a stop command may carry, in user-perceived characters.
inline constexpr std::size_t threadIdLimit = 128;
// The latest expiry accepted: a captured command must not stay valid for long.
inline constexpr std::chrono::minutes expiryHorizon{10};
// Snapshots that answer "request_snapshot" are at least this far apart.
inline constexpr std::chrono::milliseconds snapshotAnswerSpacing{250};

// Checks a command object in order (allowlisted type, canonical UUID identifier, expiry
// without fractional seconds strictly after `now` and at most ten minutes after it, and for a
// stop a thread identifier of at most 128 characters). Nothing means drop it silently: a command that fails a check gets no
// answer at all.
std::optional<RelayCommand> accept(const boost::json::object &command,
                                   DateFormatting::Clock::time_point now);

// The 36-character 8-4-4-4-12 text form, hexadecimal digits in either case.
bool isCanonicalUuid(std::string_view text);

// Command result statuses and messages.
inline constexpr std::string_view statusUnsupported = "unsupported";
inline constexpr std::string_view statusSucceeded = "succeeded";
inline constexpr std::string_view statusFailed = "failed";
inline constexpr std::string_view noActiveTurnMessage = "No cancellable active turn is available.";
inline constexpr std::string_view stopRequestedMessage = "Codex was asked to stop.";

// "Codex could not be stopped: " and the interrupt error's user-facing text.
std::string stopFailedMessage(std::string_view reason);

} // namespace RelayCommands
} // namespace orvane
