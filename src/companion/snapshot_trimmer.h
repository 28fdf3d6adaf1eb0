#pragma once

#include "model/records.h"
#include "relay/relay_messages.h"

#include <cstddef>

// Keeps a snapshot's relay message under the relay's size ceiling. Twenty threads with full
// transcripts pass it easily, and an oversized message is refused whole, so the glasses would
// get nothing at all.
namespace orvane::SnapshotTrimmer {

// The largest message, in bytes, the publisher sends.
inline constexpr std::size_t messageCeiling = RelayMessages::sizeLimit;

// Bytes of the compact {"type":"snapshot","snapshot":...} message that carries `snapshot`.
std::size_t messageSize(const GlassesSnapshot &snapshot);

// `snapshot` trimmed until its message fits `ceiling`: transcript entries go oldest first,
// thread by thread from the end of the display order with the current thread last; then whole
// threads go from the end of the list, never the current one. Every other field stays as it
// is. A snapshot whose current thread alone is too large comes back as small as it can get.
GlassesSnapshot fit(GlassesSnapshot snapshot, std::size_t ceiling = messageCeiling);

} // namespace orvane::SnapshotTrimmer
