#include "companion/snapshot_trimmer.h"

#include <gtest/gtest.h>

#include <fixture.h>

#include <boost/json/serialize.hpp>

#include <set>

namespace orvane {
namespace {

const auto cases = test::fixture("snapshot-trimming.json");

std::size_t sentSize(const GlassesSnapshot &snapshot)
{
    return boost::json::serialize(boost::json::object{{"type", "snapshot"}, {"snapshot", boost::json::value_from(snapshot)}}).size();
}

// The threads and entries a snapshot holds: what trimming may remove.
std::set<std::string> elements(const GlassesSnapshot &snapshot)
{
    std::set<std::string> ids;
    for (const auto &thread : snapshot.threads) {
        ids.insert(thread.id);
        for (const auto &entry : *thread.transcript)
            ids.insert(entry.id);
    }
    return ids;
}

// From everything fitting down to nothing left to remove, with the current thread first, inside,
// last or absent: each ceiling from one result's size down gives that result, which fits unless
// nothing is left to remove; one byte below it, exactly one more entry or thread goes, and
// nothing else changes. The order they go in is the table's.
TEST(SnapshotTrimmer, TrimsInOrderAndNoFurtherThanNeeded)
{
    for (const auto &row : cases.at("orders").as_array()) {
        SCOPED_TRACE(row.at(0));
        const auto current = boost::json::value_to<std::optional<std::string>>(row.at(0));
        auto original = decode<GlassesSnapshot>(cases.at("snapshot")).value();
        original.activeThreadId = current;
        const std::size_t least = current ? 1 : 0; // the current thread always stays
        GlassesSnapshot previous = original;
        std::string removed;
        for (std::size_t ceiling = sentSize(original); elements(previous).size() > least;) {
            const GlassesSnapshot trimmed = SnapshotTrimmer::fit(original, ceiling);
            const std::size_t size = sentSize(trimmed);
            ASSERT_TRUE(size <= ceiling || elements(trimmed).size() == least) << ceiling;
            const bool previousFits = sentSize(previous) <= ceiling || elements(previous).size() == least;
            std::vector<std::string> gone;
            std::ranges::set_difference(elements(previous), elements(trimmed), std::back_inserter(gone));
            ASSERT_EQ(gone.size(), previousFits ? 0u : 1u) << ceiling;
            for (const auto &id : gone) {
                removed += (removed.empty() ? "" : " ") + id;
                std::erase_if(previous.threads, [&](const ThreadView &thread) { return thread.id == id; });
                for (auto &thread : previous.threads)
                    std::erase_if(*thread.transcript, [&](const TranscriptEntry &entry) { return entry.id == id; });
            }
            ASSERT_EQ(trimmed, previous) << "more changed than " << removed;
            ceiling = size < ceiling ? size : ceiling - 1;
        }
        EXPECT_EQ(removed, row.at(1).as_string());
    }
}

} // namespace
} // namespace orvane
