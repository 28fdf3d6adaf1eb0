#include "companion/command_replay_guard.h"
#include "companion/debug_report.h"
#include "companion/notification_policy.h"
#include "companion/pairing_input.h"
#include "companion/relay_base_url.h"
#include "companion/relay_command.h"
#include "companion/thread_batch.h"

#include <gtest/gtest.h>

#include <fixture.h>

#include <boost/json.hpp>

#include <sstream>


namespace orvane {
namespace {

using test::fixture;

namespace json = boost::json;
using enum ThreadState;

constexpr auto uuid = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";

const json::value rules = fixture("companion-rules.json");

// The publisher token travels in clear only to this computer; what is refused says so in one line.
TEST(RelayAddress, TakesHttpsAndPlainHttpToThisComputerOnly)
{
    const auto url = [](const json::value &text) { return QString::fromUtf8(text.as_string().c_str()); };
    const json::value table = fixture("relay-urls.json");
    for (const auto &row : table.at("rows").as_array()) {
        const auto &configured = row.at(0), &chosen = row.at(1);
        std::ostringstream errors;
        const auto used = RelayBaseUrl::choose(configured.is_null() ? std::nullopt : std::optional(url(configured)), errors);
        EXPECT_EQ(used, chosen.is_null() ? RelayBaseUrl::fallback() : QUrl(url(chosen))) << configured;
        EXPECT_EQ(std::ranges::count(errors.str(), '\n'), chosen.is_null() ? 1 : 0) << configured;
    }
}

TEST(RelayCommands, AcceptOnlyCommandsPassingEveryCheck)
{
    const auto now = *DateFormatting::parseIso("2026-05-01T09:30:00Z");
    const std::string_view kinds[] = {"requestSnapshot", "markNotificationSeen", "stopThread"};
    for (const auto &row : rules.at("commands").as_array()) {
        json::object fields{
            {"type", "request_snapshot"}, {"commandId", uuid}, {"expiresAt", "2026-05-01T09:31:00Z"}, {"threadId", "t-1"}};
        for (const auto &[key, value] : row.at(0).as_object()) {
            if (value.is_null())
                fields.erase(key);
            else
                fields[key] = value;
        }
        json::value accepted = nullptr;
        if (const auto command = RelayCommands::accept(fields, now)) {
            accepted = {{"kind", kinds[int(command->kind)]}, {"commandId", command->commandId},
                        {"expiresAt", DateFormatting::iso(command->expiresAt)}};
            if (!command->threadId.empty())
                accepted.as_object()["threadId"] = command->threadId;
        }
        EXPECT_EQ(accepted, row.at(1)) << row;
    }
}

TEST(CommandReplayGuard, DropsAnIdentifierSeenBeforeUntilItExpires)
{
    using namespace std::chrono_literals;
    const auto now = *DateFormatting::parseIso("2026-05-01T09:30:00Z");
    CommandReplayGuard guard;
    EXPECT_TRUE(guard.admit(uuid, now + 60s, now));
    EXPECT_FALSE(guard.admit(uuid, now + 60s, now + 1s));
    EXPECT_FALSE(guard.admit("3f2504e0-4f89-11d3-9a0c-0305e82c3301", now + 120s, now + 2s)); // the same UUID
    EXPECT_TRUE(guard.admit(uuid, now + 200s, now + 60s)); // forgotten once expired
    // Full: new commands are refused rather than old ones forgotten early.
    for (std::size_t i = 1; i < CommandReplayGuard::capacity; ++i)
        EXPECT_TRUE(guard.admit(std::to_string(i), now + 100s, now + 61s));
    EXPECT_FALSE(guard.admit("one more", now + 100s, now + 61s));
    EXPECT_TRUE(guard.admit("one more", now + 300s, now + 100s));
}

TEST(PairingInput, KeepsExactlySixNumericCharactersAsTyped)
{
    for (const auto &row : rules.at("pins").as_array())
        EXPECT_EQ(json::value_from(PairingInput::pin(row.at(0).as_string())), row.at(1)) << row;
    EXPECT_EQ(PairingInput::pin("12\xff" "34\xc3" "56"), "123456");
}

TEST(DebugReport, SaysEachFactOnItsLineAndShortensTheChannel)
{
    const DebugFacts facts{true, true, "codex-cli 0.171.0", "2", "proxy", "chatgpt", "3f2504e0-4f89-11d3-9a0c-0305e82c3301",
                           3, 1234, DateFormatting::parseIso("2026-05-01T09:30:00.789Z"), "The relay is disconnected.", 6};
    EXPECT_EQ(debugReport(facts), "Orvane Companion 0.1.0\nCompanion: connected\nRelay: connected\n"
                                  "Codex: codex-cli 0.171.0\nProtocol: 2\nConnection mode: proxy\n"
                                  "Authentication category: chatgpt\nRedactions since start: 6\nPairing: 3f2504e0\u2026\n"
                                  "Reconnects: 3\n"
                                  "Events: 1234\nLast sync: 2026-05-01T09:30:00Z\nLast error: The relay is disconnected.");
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
}

TEST(ThreadBatch, ReadsTheModelChoice)
{
    for (const auto &row : rules.at("modelChoices").as_array()) {
        const auto choice = ThreadBatch::modelChoice(row.at(0).as_object());
        EXPECT_EQ(json::value_from(std::pair(choice.model, choice.effort)), row.at(1)) << row;
    }
}

} // namespace
} // namespace orvane
