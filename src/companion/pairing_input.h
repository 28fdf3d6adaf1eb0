#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// What the pairing actions take from the PIN field and what they tell the user.
namespace orvane::PairingInput {

inline constexpr std::size_t pinLength = 6;

// The PIN in the field: its characters with the Unicode numeric property, kept as typed (the
// relay reads digits of any script), when there are exactly six of them.
std::optional<std::string> pin(std::string_view typed);

inline constexpr std::string_view wrongLengthMessage = "Enter the six digits shown on the glasses.";
inline constexpr std::string_view pairingMessage = "Pairing\u2026";
inline constexpr std::string_view pairedMessage = "Paired. Your glasses will update in a moment.";
inline constexpr std::string_view unpairedMessage = "Pairing removed and relay data deleted.";
inline constexpr std::string_view relayUnreachableMessage =
    "Pairing removed from this computer, but the relay could not be reached to delete it; "
    "the glasses may keep showing the last snapshot.";
inline constexpr std::string_view notPairedMessage = "Nothing was paired; nothing to remove.";

// Between opening the relay socket after pairing and the first snapshot, so that snapshot
// usually finds the socket ready.
inline constexpr std::chrono::milliseconds firstSnapshotDelay{700};

} // namespace orvane::PairingInput
