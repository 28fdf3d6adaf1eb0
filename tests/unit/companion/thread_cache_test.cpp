// A refresh that reads and normalizes only what changed ends with the records of one that reads
// and normalizes everything, through a story of changes to the threads, the settings and git.
#include "companion/account_reads.h"
#include "companion/thread_cache.h"
#include "companion/thread_ordering.h"
#include "model/date_formatting.h"

#include <gtest/gtest.h>

#include <fixture.h>

#include <QFile>
#include <QTemporaryDir>

#include <boost/json.hpp>

namespace orvane {
namespace {

namespace json = boost::json;
using namespace std::chrono_literals;
using Results = std::vector<ThreadCache::Result>;
using test::fixture;

// The App Server's threads, the settings and git as a JSON document a story changes step by step,
// refreshed both ways at each step.
struct Story {
    json::value state = fixture("cache-story.json").at("start");
    std::vector<std::string> gitRuns;
    ThreadCache::Clock::time_point now = *DateFormatting::parseIso("2026-12-07T10:00:00Z");
    std::optional<std::string> current;
    ThreadCache cache{[this](const std::string &path) {
        gitRuns.push_back(path);
        return git(path);
    }};

    std::optional<GitView> git(const std::string &path) const { return decode<GitView>(state.at("git").at(path)); }
    json::object &threads() { return state.at("threads").as_object(); }

    ThreadCache::Context context() const
    {
        const auto text = [&](const char *key) { return std::string(state.at(key).as_string()); };
        return {{.transcript = *transcriptLevelFromRaw(text("transcript"))}, {text("model"), text("effort")},
                state.at("connection").to_number<std::uint64_t>()};
    }

    // Sets each JSON pointer of `changes`; a last token "-" appends to the array it follows.
    void change(const json::object &changes, const std::string &session)
    {
        for (const auto &[pointer, given] : changes) {
            const json::value value = given == "$session" ? json::value(session) : given;
            const std::string_view path = pointer;
            const auto parent = path.substr(0, path.rfind('/'));
            boost::system::error_code absent;
            if (path.ends_with("/-"))
                state.at_pointer(parent).as_array().push_back(value);
            else if (auto *found = state.find_pointer(path, absent))
                *found = value;
            else
                state.at_pointer(parent).as_object()[path.substr(parent.size() + 1)] = value;
        }
    }

    // As the App Server lists a thread: no turns.
    static json::object listEntry(json::object full)
    {
        full["turns"] = json::array();
        return full;
    }

    // A thread whose full read fails: shown from its list entry.
    bool unreadable(std::string_view id) const
    {
        return std::ranges::count(state.at("unreadable").as_array(), json::value(id)) > 0;
    }

    // Leaves out what the normalizer refuses.
    Results fullRefresh()
    {
        Results results;
        const auto [settings, choice, connection] = context();
        const auto git = [this](const std::string &path) { return this->git(path); };
        for (const auto &[id, raw] : threads()) {
            const auto read = unreadable(id) ? listEntry(raw.as_object()) : raw.as_object();
            if (auto result = CodexNormalizer::thread(read, settings, choice.model, choice.effort, now, git))
                results.push_back(std::move(*result));
        }
        return results;
    }

    // Returns the ids read in full.
    std::vector<std::string> refresh(Results &results)
    {
        std::vector<std::string> reads;
        std::vector<ThreadCache::Listed> listed;
        const auto context = this->context();
        for (const auto &[id, full] : threads()) {
            const auto entry = listEntry(full.as_object());
            auto one = ThreadCache::listed(std::string(id), entry);
            if (cache.mustRead(one, current, context)) {
                reads.push_back(one.id);
                one.source = unreadable(id) ? ThreadCache::Source::listEntry : ThreadCache::Source::readInFull;
                if (!unreadable(id))
                    one.raw = full.as_object();
            }
            listed.push_back(std::move(one));
        }
        results = cache.update(std::move(listed), context, now);
        std::vector<ThreadView> views(results.size());
        std::ranges::transform(results, views.begin(), &ThreadCache::Result::view);
        ThreadOrdering::sortForDisplay(views);
        current = views.front().id;
        return reads;
    }
};

// Each step: what was read in full, where git ran and which thread is current; the records equal
// a full refresh's but where git's last answers still stand.
TEST(ThreadCache, ReadsOnlyWhatChangedAndBuildsWhatAFullRefreshBuilds)
{
    Story story;
    QTemporaryDir home;
    QFile session(home.filePath("rollout.jsonl"));
    ASSERT_TRUE(session.open(QIODevice::WriteOnly));
    const auto steps = fixture("cache-story.json").at("steps");
    for (const auto &value : steps.as_array()) {
        const auto &step = value.as_object();
        SCOPED_TRACE(step.at("why").as_string().c_str());
        story.now += std::chrono::seconds(step.contains("later") ? step.at("later").to_number<int>() : 4);
        if (const auto *changes = step.if_contains("set"))
            story.change(changes->as_object(), session.fileName().toStdString());
        if (step.contains("write")) {
            ASSERT_TRUE(session.write("{}\n") == 3 && session.flush());
        }
        if (step.contains("forget")) {
            EXPECT_EQ(story.cache.update({}, story.context(), story.now), Results{});
        }
        story.gitRuns.clear();
        Results results;
        const json::value reads = json::value_from(story.refresh(results));
        EXPECT_EQ(results == story.fullRefresh(), !step.contains("stale"));
        for (const auto &[key, actual] : {std::pair("reads", reads), {"git", json::value_from(story.gitRuns)},
                                          {"current", json::value_from(story.current)}}) {
            if (const auto *expected = step.if_contains(key)) {
                EXPECT_EQ(actual, *expected) << key;
            }
        }
    }
}

// The account, rate limits and configuration are asked again while Codex works, on a new
// connection, and otherwise once a minute.
TEST(AccountReads, AskedAgainWhenThreadsMovedOnANewConnectionOrAfterAMinute)
{
    AccountReads reads;
    const AccountReads::Clock::time_point start;
    EXPECT_TRUE(reads.due(1, false, start)) << "never asked";
    reads.keep({json::object{{"account", "a"}}, {}, {}}, 1, start);
    EXPECT_EQ(reads.last().account, (json::object{{"account", "a"}}));
    // The connection, whether threads moved, how long after the last answers, and whether due.
    const std::tuple<std::uint64_t, bool, std::chrono::seconds, bool> rows[] = {
        {1, false, 4s, false}, {1, false, 59s, false}, {1, false, 60s, true}, {1, true, 4s, true}, {2, false, 4s, true},
    };
    for (const auto &[connection, moved, later, due] : rows)
        EXPECT_EQ(reads.due(connection, moved, start + later), due) << later.count();
}

} // namespace
} // namespace orvane
