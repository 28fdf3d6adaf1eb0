// A refresh that reads and normalizes only what changed ends with the records of one that reads
// and normalizes everything, through a story of changes to the threads, the settings and git.
#include "companion/account_reads.h"
#include "companion/thread_cache.h"
#include "companion/thread_ordering.h"
#include "model/date_formatting.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <boost/json.hpp>

namespace orvane {
namespace {

namespace json = boost::json;
using namespace std::chrono_literals;
using Results = std::vector<ThreadCache::Result>;

json::object item(std::string id, std::string type, std::string text, std::string status = "completed")
{
    if (type == "userMessage")
        return {{"type", type}, {"id", id}, {"content", json::array{{{"type", "text"}, {"text", text}}}}};
    if (type == "commandExecution")
        return {{"type", type}, {"id", id}, {"command", text}, {"status", status}, {"aggregatedOutput", "ok"}};
    return {{"type", type}, {"id", id}, {"text", text}};
}

json::object thread(std::string id, std::int64_t updatedAt, std::string cwd)
{
    json::array items{item(id + "-u", "userMessage", "Run the tests, token sk-live-0123456789abcdefghij"),
                      item(id + "-c", "commandExecution", "/bin/bash -lc 'npm test'"),
                      item(id + "-a", "agentMessage", "All tests pass.")};
    return {{"id", id}, {"name", nullptr}, {"preview", "Task " + id}, {"updatedAt", updatedAt}, {"cwd", cwd},
            {"status", {{"type", "idle"}}},
            {"turns", json::array{{{"id", id + "-turn"}, {"status", "completed"}, {"startedAt", updatedAt - 60},
                                   {"completedAt", updatedAt}, {"durationMs", 60000}, {"items", items}}}}};
}

// An App Server and a git that a story changes step by step, refreshed both ways at each step.
struct Story {
    std::vector<json::object> threads{thread("t-a", 1796590000, "/w/one"), thread("t-b", 1796591000, "/w/two"),
                                      thread("t-c", 1796592000, "/w/one")};
    std::map<std::string, GitView> git{{"/w/one", {.branch = "main"}}, {"/w/two", {.branch = "fix"}}};
    std::vector<std::string> gitRuns;
    ThreadCache::Context context{{.transcript = TranscriptLevel::activity}, {"gpt-5.5", "medium"}};
    ThreadCache::Clock::time_point now = *DateFormatting::parseIso("2026-12-07T10:00:00Z");
    std::optional<std::string> current;
    ThreadCache cache{[this](const std::string &path) {
        gitRuns.push_back(path);
        return std::optional<GitView>(git.at(path));
    }};

    json::object &named(std::string_view id)
    {
        return *std::find_if(threads.begin(), threads.end(), [&](const auto &t) { return t.at("id").as_string() == id; });
    }

    // As the App Server lists a thread: no turns.
    static json::object listEntry(json::object full)
    {
        full["turns"] = json::array();
        return full;
    }

    Results fullRefresh() const
    {
        Results results;
        for (const auto &raw : threads) {
            const auto path = raw.at("cwd").as_string();
            auto result = CodexNormalizer::thread(raw, context.settings, context.choice.model, context.choice.effort, now,
                                                  [&](const std::string &) { return std::optional<GitView>(git.at(std::string(path))); });
            results.push_back(std::move(*result));
        }
        return results;
    }

    // Returns the ids read in full.
    std::vector<std::string> refresh(Results &results)
    {
        std::vector<std::string> reads;
        std::vector<ThreadCache::Listed> listed;
        for (const auto &full : threads) {
            const auto entry = listEntry(full);
            ThreadCache::Listed one{std::string(full.at("id").as_string()), ThreadCache::listKey(entry), entry,
                                    ThreadCache::Source::cached};
            if (cache.mustRead(entry, current, context)) {
                reads.push_back(one.id);
                one.raw = full;
                one.source = ThreadCache::Source::readInFull;
            }
            listed.push_back(std::move(one));
        }
        results = cache.update(std::move(listed), context, now);
        std::vector<ThreadView> views;
        for (const auto &result : results)
            views.push_back(result.view);
        ThreadOrdering::sortForDisplay(views);
        current = views.front().id;
        return reads;
    }

    // One step: what was read and whether git ran; the records must equal a full refresh's.
    std::vector<std::string> step(const std::string &what)
    {
        gitRuns.clear();
        Results results;
        auto reads = refresh(results);
        EXPECT_EQ(results, fullRefresh()) << what;
        return reads;
    }
};

using Ids = std::vector<std::string>;

TEST(ThreadCache, ReadsOnlyWhatChangedAndBuildsWhatAFullRefreshBuilds)
{
    Story story;
    EXPECT_EQ(story.step("first refresh"), (Ids{"t-a", "t-b", "t-c"}));
    EXPECT_EQ(story.gitRuns, (Ids{"/w/one", "/w/two"})) << "one summary per workspace";
    EXPECT_EQ(story.current, "t-c");

    story.now += 4s;
    EXPECT_EQ(story.step("nothing changed"), Ids{"t-c"}) << "only the current thread";
    EXPECT_TRUE(story.gitRuns.empty());

    // Another client starts a turn in t-a; its status and time change.
    auto &a = story.named("t-a");
    a["updatedAt"] = 1796593000;
    a["status"] = {{"type", "active"}, {"activeFlags", json::array()}};
    a["turns"].as_array().push_back(json::object{{"id", "t-a-turn2"}, {"status", "inProgress"}, {"startedAt", 1796593000},
                                                 {"items", json::array{item("t-a-u2", "userMessage", "Build it")}}});
    story.now += 4s;
    EXPECT_EQ(story.step("turn started"), (Ids{"t-a", "t-c"}));
    EXPECT_EQ(story.gitRuns, Ids{"/w/one"});
    EXPECT_EQ(story.current, "t-a");

    // Items arrive without the list entry changing: the running thread is read all the same.
    auto &running = a["turns"].as_array().back().as_object()["items"].as_array();
    running.push_back(item("t-a-c2", "commandExecution", "cargo build", "inProgress"));
    story.now += 4s;
    EXPECT_EQ(story.step("items arriving"), Ids{"t-a"});
    running.back().as_object()["status"] = "completed";
    running.push_back(item("t-a-a2", "agentMessage", "Built."));
    story.now += 4s;
    EXPECT_EQ(story.step("more items"), Ids{"t-a"});

    // A turn another App Server runs, as a dedicated child reads it: cut off without an end,
    // items growing, the list entry unchanged but for the session file behind it.
    QTemporaryDir home;
    QFile session(home.filePath("rollout.jsonl"));
    ASSERT_TRUE(session.open(QIODevice::WriteOnly));
    auto &c = story.named("t-c");
    c["path"] = home.filePath("rollout.jsonl").toStdString();
    story.now += 4s;
    EXPECT_EQ(story.step("session file named"), (Ids{"t-a", "t-c"}));
    auto &other = c["turns"].as_array().emplace_back(json::object{{"id", "t-c-turn2"}, {"status", "interrupted"}, {"startedAt", 1796592100},
                                                                  {"items", json::array{item("t-c-u2", "userMessage", "Go on")}}}).as_object();
    session.write("{}\n");
    session.flush();
    story.now += 4s;
    EXPECT_EQ(story.step("turn in another process"), (Ids{"t-a", "t-c"}));
    story.now += 4s;
    EXPECT_EQ(story.step("no item since"), Ids{"t-a"});
    other["items"].as_array().push_back(item("t-c-a2", "agentMessage", "Going on."));
    session.write("{}\n");
    session.flush();
    story.now += 4s;
    EXPECT_EQ(story.step("an item written"), (Ids{"t-a", "t-c"}));

    // A thread the App Server failed under a running turn is not active and not read again, but
    // its running time goes on.
    auto &b = story.named("t-b");
    b["updatedAt"] = 1796593100;
    b["status"] = {{"type", "systemError"}};
    b["turns"].as_array().push_back(json::object{{"id", "t-b-turn2"}, {"status", "inProgress"}, {"startedAt", 1796593100}});
    story.now += 4s;
    EXPECT_EQ(story.step("failed while running"), (Ids{"t-a", "t-b"}));
    story.now += 7s;
    EXPECT_EQ(story.step("the clock moved"), Ids{"t-a"});

    // The turn finishes: read once more as it was active, then left alone.
    auto &turn = a["turns"].as_array().back().as_object();
    turn["status"] = "completed";
    turn["completedAt"] = 1796593050;
    turn["durationMs"] = 50000;
    a["updatedAt"] = 1796593050;
    a["status"] = {{"type", "idle"}};
    story.now += 4s;
    EXPECT_EQ(story.step("turn finished"), Ids{"t-a"});
    story.now += 4s;
    EXPECT_EQ(story.step("idle again"), Ids{"t-b"}) << "the newest thread is current now";

    story.named("t-c")["name"] = "Release notes";
    story.now += 4s;
    EXPECT_EQ(story.step("renamed"), (Ids{"t-b", "t-c"}));
    story.named("t-c")["updatedAt"] = 1796594000;
    story.now += 4s;
    EXPECT_EQ(story.step("updated"), (Ids{"t-b", "t-c"}));
    EXPECT_EQ(story.current, "t-c");
    story.now += 4s;
    EXPECT_EQ(story.step("nothing changed again"), Ids{}) << "the current thread's session file is unchanged";

    story.context.settings.transcript = TranscriptLevel::messages;
    story.now += 4s;
    EXPECT_EQ(story.step("setting changed"), (Ids{"t-a", "t-b", "t-c"}));
    story.context.choice.effort = "high";
    story.now += 4s;
    EXPECT_EQ(story.step("effort changed"), (Ids{"t-a", "t-b", "t-c"}));

    story.context.connection = 2;
    story.now += 4s;
    EXPECT_EQ(story.step("another App Server"), (Ids{"t-a", "t-b", "t-c"})) << "it may see the threads otherwise";

    // git changes under idle workspaces: the last answers stand until they are 30 seconds old.
    story.git["/w/two"] = {.branch = "fix", .dirty = true, .changedFiles = 2, .additions = 7};
    story.now += 4s;
    story.gitRuns.clear();
    Results stale;
    story.refresh(stale);
    EXPECT_TRUE(story.gitRuns.empty());
    EXPECT_NE(stale, story.fullRefresh());
    story.now += 26s;
    story.step("git changed");
    EXPECT_EQ(story.gitRuns, (Ids{"/w/one", "/w/two"}));

    EXPECT_EQ(story.cache.update({}, story.context, story.now), Results{}) << "a thread no longer listed is forgotten";
    EXPECT_EQ(story.step("after forgetting"), (Ids{"t-a", "t-b", "t-c"}));
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
    const struct {
        std::uint64_t connection;
        bool moved;
        std::chrono::seconds later;
        bool due;
    } rows[] = {{1, false, 4s, false}, {1, false, 59s, false}, {1, false, 60s, true}, {1, true, 4s, true}, {2, false, 4s, true}};
    for (const auto &row : rows)
        EXPECT_EQ(reads.due(row.connection, row.moved, start + row.later), row.due) << row.later.count();
}

TEST(ThreadCache, ThreadsTheNormalizerRefusesOrThatCouldNotBeReadAreNotKept)
{
    Story story;
    story.threads.insert(story.threads.begin() + 1, json::object{{"id", "no-time"}});
    std::vector<ThreadCache::Listed> listed;
    for (const auto &full : story.threads)
        listed.push_back({std::string(full.at("id").as_string()), ThreadCache::listKey(full), Story::listEntry(full),
                          ThreadCache::Source::listEntry});
    const auto results = story.cache.update(std::move(listed), story.context, story.now);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].view.id + results[1].view.id + results[2].view.id, "t-at-bt-c");
    EXPECT_EQ(results[1].view.status, ThreadState::unknown) << "a list entry knows no turn";
    for (const auto &full : story.threads)
        EXPECT_TRUE(story.cache.mustRead(full, std::nullopt, story.context)) << full.at("id");
}

} // namespace
} // namespace orvane
