#include "companion/command_replay_guard.h"
#include "companion/debug_report.h"
#include "companion/redaction_tally.h"
#include "companion/notification_policy.h"
#include "companion/pairing_input.h"
#include "companion/relay_command.h"
#include "companion/thread_batch.h"
#include "companion/thread_ordering.h"

#include <gtest/gtest.h>

#include <boost/json.hpp>

namespace orvane {
namespace {

namespace json = boost::json;
using enum ThreadState;
using Kind = RelayCommand::Kind;

constexpr auto uuid = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";

// A valid command with `key` set to `value`, or removed when `value` is null.
json::object command(std::string_view type, std::string_view key = {}, json::value value = nullptr)
{
    json::object object{{"type", type}, {"commandId", uuid}, {"expiresAt", "2026-05-01T09:31:00Z"}, {"threadId", "t-1"}};
    if (value.is_null())
        object.erase(key);
    else
        object[key] = value;
    return object;
}

TEST(RelayCommands, AcceptOnlyCommandsPassingEveryCheck)
{
    const auto now = *DateFormatting::parseIso("2026-05-01T09:30:00Z");
    const std::string lower = "3f2504e0-4f89-11d3-9a0c-0305e82c3301", t128(128, 't'), t129(129, 't');
    std::string e128; // 128 characters of two code points each
    for (int i = 0; i < 128; ++i)
        e128 += "e\u0301";
    const auto expiry = *DateFormatting::parseIso("2026-05-01T09:31:00Z");
    const RelayCommand snapshot{Kind::requestSnapshot, uuid, {}, expiry};
    const std::vector<std::pair<json::object, std::optional<RelayCommand>>> cases{
        {command("request_snapshot"), snapshot},
        {command("mark_notification_seen"), RelayCommand{Kind::markNotificationSeen, uuid, {}, expiry}},
        {command("stop_thread"), RelayCommand{Kind::stopThread, uuid, "t-1", expiry}},
        {command("shell"), {}},
        {command("request_snapshot", "type", 3), {}},
        {command("request_snapshot", "commandId", "abc"), {}},
        {command("request_snapshot", "commandId"), {}},
        {command("request_snapshot", "commandId", "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}"), {}},
        {command("request_snapshot", "commandId", lower.c_str()), RelayCommand{Kind::requestSnapshot, lower, {}, expiry}},
        {command("request_snapshot", "expiresAt", "2026-05-01T09:29:59Z"), {}},
        {command("request_snapshot", "expiresAt", "2026-05-01T09:30:00Z"), {}},
        {command("request_snapshot", "expiresAt", "2026-05-01T09:31:00.000Z"), {}},
        {command("request_snapshot", "expiresAt", "2026-05-01T09:31:00"), {}},
        {command("request_snapshot", "expiresAt", "2026-05-01T11:30:01+02:00"),
         RelayCommand{Kind::requestSnapshot, uuid, {}, now + std::chrono::seconds(1)}},
        // At most ten minutes ahead, so a captured command does not stay valid; never wrapped.
        {command("request_snapshot", "expiresAt", "2026-05-01T09:40:00Z"),
         RelayCommand{Kind::requestSnapshot, uuid, {}, now + std::chrono::minutes(10)}},
        {command("request_snapshot", "expiresAt", "2026-05-01T09:40:01Z"), {}},
        {command("request_snapshot", "expiresAt", "2612-01-01T00:00:00Z"), {}},
        {command("request_snapshot", "expiresAt", "9999-12-31T23:59:59Z"), {}},
        {command("stop_thread", "threadId"), {}},
        {command("stop_thread", "threadId", t128.c_str()), RelayCommand{Kind::stopThread, uuid, t128, expiry}},
        {command("stop_thread", "threadId", t129.c_str()), {}},
        {command("stop_thread", "threadId", e128.c_str()), RelayCommand{Kind::stopThread, uuid, e128, expiry}},
        {command("request_snapshot", "threadId", t129.c_str()), snapshot},
    };
    for (const auto &[object, expected] : cases)
        EXPECT_EQ(RelayCommands::accept(object, now), expected) << json::serialize(object);
}

TEST(CommandReplayGuard, DropsAnIdentifierSeenBeforeUntilItExpires)
{
    using namespace std::chrono_literals;
    const auto now = *DateFormatting::parseIso("2026-05-01T09:30:00Z");
    const std::string lower = "3f2504e0-4f89-11d3-9a0c-0305e82c3301";
    CommandReplayGuard guard;
    EXPECT_TRUE(guard.admit(uuid, now + 60s, now));
    EXPECT_FALSE(guard.admit(uuid, now + 60s, now + 1s));
    EXPECT_FALSE(guard.admit(lower, now + 120s, now + 2s)); // the same UUID
    EXPECT_TRUE(guard.admit(uuid, now + 200s, now + 60s)); // forgotten once expired
    // Full: new commands are refused rather than old ones forgotten early.
    for (std::size_t i = 1; i < CommandReplayGuard::capacity; ++i)
        EXPECT_TRUE(guard.admit(std::to_string(i), now + 100s, now + 61s));
    EXPECT_FALSE(guard.admit("one more", now + 100s, now + 61s));
    EXPECT_TRUE(guard.admit("one more", now + 300s, now + 100s));
}

TEST(PairingInput, KeepsExactlySixNumericCharactersAsTyped)
{
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases{
        {" 12 3-45\t6 ", "123456"}, {"12-345", {}}, {"123 4567", {}}, {"a1b2c3d4e5f", {}},
        {"\u0661\u0662\u0663 \u0664\u0665\u0666", "\u0661\u0662\u0663\u0664\u0665\u0666"},
        {"12\u0663-\u0664\uff15\u0966", "12\u0663\u0664\uff15\u0966"},
        {"12\xff" "34\xc3" "56", "123456"},
    };
    for (const auto &[typed, expected] : cases)
        EXPECT_EQ(PairingInput::pin(typed), expected) << typed;
    EXPECT_EQ(PairingInput::pairingMessage, "Pairing\xE2\x80\xA6");
}

TEST(DebugReport, SaysEachFactOnItsLineAndShortensTheChannel)
{
    EXPECT_NE(debugReport({}).find("\nCompanion: disconnected\nRelay: disconnected\nCodex: unavailable\n"), std::string::npos);
    const DebugFacts facts{true, true, "codex-cli 0.171.0", "2", "proxy", "chatgpt", "3f2504e0-4f89-11d3-9a0c-0305e82c3301",
                           3, 1234, DateFormatting::parseIso("2026-05-01T09:30:00.789Z"), "The relay is disconnected."};
    EXPECT_EQ(debugReport(facts), "Orvane Companion 0.1.0\nCompanion: connected\nRelay: connected\n"
                                  "Codex: codex-cli 0.171.0\nProtocol: 2\nConnection mode: proxy\n"
                                  "Authentication category: chatgpt\nRedactions since start: 0\nPairing: 3f2504e0\u2026\n"
                                  "Reconnects: 3\n"
                                  "Events: 1234\nLast sync: 2026-05-01T09:30:00Z\nLast error: The relay is disconnected.");
}

TEST(RedactionTally, CountsEachThreadsNewSecretsOnceAcrossRefreshes)
{
    RedactionTally tally;
    const std::vector<std::map<std::string, std::int64_t>> refreshes{
        {{"a", 2}, {"b", 0}}, {{"a", 2}, {"b", 1}}, {{"a", 1}}, {{"a", 3}}, {{"b", 1}}};
    std::vector<std::int64_t> totals;
    for (const auto &counts : refreshes) {
        tally.record(counts);
        totals.push_back(tally.total());
    }
    EXPECT_EQ(totals, (std::vector<std::int64_t>{2, 3, 3, 5, 6}));
    DebugFacts facts;
    facts.redactionCount = tally.total();
    EXPECT_NE(debugReport(facts).find("\nRedactions since start: 6\n"), std::string::npos);
}

TEST(NotificationPolicy, NotifiesStatesNewlyReached)
{
    const auto view = [](std::string id, ThreadState status) { return ThreadView{.id = id, .title = "Fix", .status = status}; };
    const auto previous = NotificationPolicy::statesById(
        {view("a", thinking), view("b", finished), view("c", finished), view("d", waitingForUser), view("e", failed)});
    // Unchanged, into a notified state, out of one, from one into another, new notified, new not.
    const std::vector after{view("d", waitingForUser), view("a", waitingForApproval), view("b", unknown),
                            view("c", stopped), view("f", failed), view("g", thinking), view("e", thinking)};
    const std::vector<NotificationPolicy::Notification> expected{
        {"a-waiting_for_approval", "Needs approval", "Fix"}, {"c-stopped", "Stopped", "Fix"}, {"f-failed", "Failed", "Fix"}};
    EXPECT_EQ(NotificationPolicy::newlyReached(previous, after, true), expected);
    EXPECT_TRUE(NotificationPolicy::newlyReached(previous, after, false).empty());
    EXPECT_EQ(NotificationPolicy::newlyReached({}, after, true).size(), 4u);

    std::string title, cut; // a thumbs-up with a skin tone is one character
    for (int i = 0; i < 200; ++i)
        (i < 160 ? cut : title) += i % 2 ? "a" : "\U0001F44D\U0001F3FD";
    EXPECT_EQ(NotificationPolicy::notificationFor({.title = cut + title}).body, cut);
}

TEST(ThreadOrdering, ActiveFirstThenNewestWithTiesInListOrder)
{
    std::vector<ThreadView> threads;
    for (auto [id, state, time] : {std::tuple{"tie-a", failed, "09"}, {"unknown", unknown, "11"}, {"approval", waitingForApproval, "08"},
                                   {"tie-b", stopped, "09"}, {"queued", queued, "09"}, {"tie-c", finished, "09"}})
        threads.push_back({.id = id, .status = state, .updatedAt = std::string("2026-05-01T") + time + ":00:00.000Z"});
    ThreadOrdering::sortForDisplay(threads);
    std::string order;
    for (const auto &thread : threads)
        order += thread.id + " ";
    EXPECT_EQ(order, "queued approval unknown tie-a tie-b tie-c ");
}

TEST(ThreadBatch, ReadsTheModelChoice)
{
    using Choice = std::pair<std::optional<std::string>, std::optional<std::string>>;
    for (const auto &[result, expected] : std::vector<std::pair<const char *, Choice>>{
             {R"({"model":"o4","model_reasoning_effort":"low"})", {"o4", "low"}},
             {R"({"config":{"model":null},"model":"ignored"})", {}},
             {R"({"config":{"model":3,"model_reasoning_effort":["high"]}})", {}}}) {
        const auto choice = ThreadBatch::modelChoice(json::parse(result).as_object());
        EXPECT_EQ(Choice(choice.model, choice.effort), expected) << result;
    }
}

} // namespace
} // namespace orvane
