#include "companion/snapshot_trimmer.h"

#include <boost/json/serialize.hpp>

#include <optional>
#include <string_view>

namespace orvane::SnapshotTrimmer {
namespace {

// The envelope around the snapshot object; key order does not change the size.
constexpr std::string_view envelopeHead = R"({"type":"snapshot","snapshot":)";
constexpr std::string_view envelopeTail = "}";

template <typename Record>
std::size_t encodedSize(const Record &record)
{
    return boost::json::serialize(boost::json::value_from(record)).size();
}

// What removing one element of a compact JSON array of `count` elements saves: the element
// and, unless it was the only one, one comma.
std::size_t elementSaving(std::size_t elementSize, std::size_t count)
{
    return elementSize + (count > 1 ? 1 : 0);
}

std::optional<std::size_t> currentIndex(const GlassesSnapshot &snapshot)
{
    if (!snapshot.activeThreadId)
        return std::nullopt;
    for (std::size_t i = 0; i < snapshot.threads.size(); ++i) {
        if (snapshot.threads[i].id == *snapshot.activeThreadId)
            return i;
    }
    return std::nullopt;
}

// Drops the thread's oldest entries until `size` fits or none is left. Sizes are kept by
// arithmetic over the compact form, so the snapshot is serialized once, not once per entry.
void dropOldestEntries(ThreadView &thread, std::size_t &size, std::size_t ceiling)
{
    if (!thread.transcript)
        return;
    auto &entries = *thread.transcript;
    std::size_t dropped = 0;
    while (dropped < entries.size() && size > ceiling) {
        size -= elementSaving(encodedSize(entries[dropped]), entries.size() - dropped);
        ++dropped;
    }
    entries.erase(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(dropped));
}

} // namespace

std::size_t messageSize(const GlassesSnapshot &snapshot)
{
    return envelopeHead.size() + encodedSize(snapshot) + envelopeTail.size();
}

GlassesSnapshot fit(GlassesSnapshot snapshot, std::size_t ceiling)
{
    std::size_t size = messageSize(snapshot);
    if (size <= ceiling)
        return snapshot;

    auto current = currentIndex(snapshot);
    auto &threads = snapshot.threads;
    for (std::size_t i = threads.size(); i-- > 0 && size > ceiling;) {
        if (i != current)
            dropOldestEntries(threads[i], size, ceiling);
    }
    if (current && size > ceiling)
        dropOldestEntries(threads[*current], size, ceiling);

    for (std::size_t i = threads.size(); i-- > 0 && size > ceiling;) {
        if (i == current)
            continue;
        size -= elementSaving(encodedSize(threads[i]), threads.size());
        threads.erase(threads.begin() + static_cast<std::ptrdiff_t>(i));
        if (current && *current > i)
            --*current;
    }
    return snapshot;
}

} // namespace orvane::SnapshotTrimmer
