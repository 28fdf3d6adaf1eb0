#include "companion/debug_report.h"
#include "companion/notification_policy.h"
#include "companion/pairing_input.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(DebugReport, FreshUnpairedCompanion)
{
    DebugFacts facts;
    facts.protocolVersion = "2";
    facts.connectionMode = "stdio";
    EXPECT_EQ(debugReport(facts), "Orvane Companion 0.1.0\n"
                                  "Companion: disconnected\n"
                                  "Relay: disconnected\n"
                                  "Codex: unavailable\n"
                                  "Protocol: 2\n"
                                  "Connection mode: stdio\n"
                                  "Authentication category: unknown\n"
                                  "Pairing: none\n"
                                  "Reconnects: 0\n"
                                  "Events: 0\n"
                                  "Last sync: never\n"
                                  "Last error: none");
}

TEST(DebugReport, PairedAndRunningCompanion)
{
    DebugFacts facts;
    facts.codexConnected = true;
    facts.relayConnected = true;
    facts.codexVersion = "codex-cli 0.171.0";
    facts.protocolVersion = "2";
    facts.connectionMode = "proxy";
    facts.authenticationMode = "chatgpt";
    facts.channelId = "3f2504e0-4f89-11d3-9a0c-0305e82c3301";
    facts.reconnectCount = 3;
    facts.eventCount = 1234;
    facts.lastSync = *DateFormatting::parseIso("2026-05-01T09:30:00.789Z");
    facts.lastError = "The relay is disconnected.";
    const auto report = debugReport(facts);
    EXPECT_EQ(report, "Orvane Companion 0.1.0\n"
                      "Companion: connected\n"
                      "Relay: connected\n"
                      "Codex: codex-cli 0.171.0\n"
                      "Protocol: 2\n"
                      "Connection mode: proxy\n"
                      "Authentication category: chatgpt\n"
                      "Pairing: 3f2504e0\u2026\n"
                      "Reconnects: 3\n"
                      "Events: 1234\n"
                      "Last sync: 2026-05-01T09:30:00Z\n"
                      "Last error: The relay is disconnected.");
    EXPECT_EQ(report.find("4f89"), std::string::npos);
}

struct PinCase {
    const char *name;
    const char *typed;
    std::optional<std::string> expected;
};

class PairingPin : public testing::TestWithParam<PinCase> {};

TEST_P(PairingPin, KeepsSixNumericCharactersAsTyped)
{
    EXPECT_EQ(PairingInput::pin(GetParam().typed), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, PairingPin,
    testing::Values(PinCase{"sixDigits", "123456", "123456"},
                    PinCase{"blanksAndHyphens", " 12 3-45\t6 ", "123456"},
                    PinCase{"fiveDigits", "12-345", std::nullopt},
                    PinCase{"sevenDigits", "123 4567", std::nullopt},
                    PinCase{"fiveDigitsAmongLetters", "a1b2c3d4e5f", std::nullopt},
                    PinCase{"arabicIndic", "\u0661\u0662\u0663\u0664\u0665\u0666", "\u0661\u0662\u0663\u0664\u0665\u0666"},
                    PinCase{"arabicIndicWithBlanks", "\u0661\u0662\u0663 \u0664\u0665\u0666", "\u0661\u0662\u0663\u0664\u0665\u0666"},
                    PinCase{"mixedScripts", "12\u0663-\u0664\uff15\u0966", "12\u0663\u0664\uff15\u0966"},
                    PinCase{"combiningMarkDropped", "1\u03012345 6", "123456"},
                    PinCase{"invalidBytesSkipped", "12\xff" "34\xc3" "56", "123456"},
                    PinCase{"empty", "", std::nullopt}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PairingInput, MessagesUseTheEllipsisCharacter)
{
    EXPECT_EQ(PairingInput::pairingMessage, "Pairing\xE2\x80\xA6");
}

ThreadView thread(std::string id, ThreadState status, std::string title = "Fix the build")
{
    ThreadView view;
    view.id = std::move(id);
    view.title = std::move(title);
    view.status = status;
    return view;
}

TEST(NotificationPolicy, NotifiesStatesNewlyReached)
{
    using enum ThreadState;
    const std::vector<ThreadView> before{thread("a", thinking), thread("b", finished), thread("c", finished),
                                         thread("d", waitingForUser), thread("e", failed)};
    const std::vector<ThreadView> after{thread("d", waitingForUser), // unchanged
                                        thread("a", waitingForApproval), // changed into a notified state
                                        thread("b", unknown),            // out of one: nothing
                                        thread("c", stopped),            // from one into another
                                        thread("f", failed),             // new, in a notified state
                                        thread("g", thinking),           // new, not notified
                                        thread("e", thinking)};
    const auto previous = NotificationPolicy::statesById(before);
    const auto notifications = NotificationPolicy::newlyReached(previous, after, true);
    const std::vector<NotificationPolicy::Notification> expected{
        {"a-waiting_for_approval", "Needs approval", "Fix the build"},
        {"c-stopped", "Stopped", "Fix the build"},
        {"f-failed", "Failed", "Fix the build"}};
    EXPECT_EQ(notifications, expected);
    EXPECT_TRUE(NotificationPolicy::newlyReached(previous, after, false).empty());
    // The next run, with nothing changed, notifies nothing.
    EXPECT_TRUE(NotificationPolicy::newlyReached(NotificationPolicy::statesById(after), after, true).empty());
    // The first run after launch notifies every thread already in a notified state.
    EXPECT_EQ(NotificationPolicy::newlyReached({}, after, true).size(), 4u);
}

TEST(NotificationPolicy, NotifiedStates)
{
    for (auto state : allThreadStates()) {
        const bool expected = state == ThreadState::finished || state == ThreadState::failed
            || state == ThreadState::stopped || state == ThreadState::waitingForApproval
            || state == ThreadState::waitingForUser;
        EXPECT_EQ(NotificationPolicy::isNotified(state), expected) << rawValue(state);
    }
}

TEST(NotificationPolicy, BodyIsTheFirst160Characters)
{
    std::string title;
    for (int i = 0; i < 200; ++i)
        title += i % 2 ? "a" : "\U0001F44D\U0001F3FD"; // a thumbs-up with skin tone: one character
    const auto body = NotificationPolicy::notificationFor(thread("t", ThreadState::finished, title)).body;
    std::string expected;
    for (int i = 0; i < 160; ++i)
        expected += i % 2 ? "a" : "\U0001F44D\U0001F3FD";
    EXPECT_EQ(body, expected);
    EXPECT_EQ(NotificationPolicy::notificationFor(thread("t", ThreadState::finished, "short")).body, "short");
}

} // namespace
} // namespace orvane
