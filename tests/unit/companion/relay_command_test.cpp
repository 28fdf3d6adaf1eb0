#include "companion/relay_command.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

namespace orvane {
namespace {

using Kind = RelayCommand::Kind;

const auto now = *DateFormatting::parseIso("2026-05-01T09:30:00Z");
constexpr auto uuid = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";

// A command object with one key replaced or, with a null value, removed.
boost::json::object command(std::string_view type, std::initializer_list<std::pair<std::string_view, boost::json::value>> changes = {})
{
    boost::json::object object{{"type", type}, {"commandId", uuid}, {"expiresAt", "2026-05-01T09:31:00Z"},
                               {"threadId", "thread-1"}};
    for (const auto &[key, value] : changes) {
        if (value.is_null())
            object.erase(key);
        else
            object[key] = value;
    }
    return object;
}

struct Case {
    const char *name;
    boost::json::object command;
    std::optional<RelayCommand> expected;
};

class RelayCommandCases : public testing::TestWithParam<Case> {};

TEST_P(RelayCommandCases, AcceptsOnlyCommandsPassingEveryCheck)
{
    EXPECT_EQ(RelayCommands::accept(GetParam().command, now), GetParam().expected);
}

const std::string threadId128(128, 't');
const std::string threadId129(129, 't');
// 128 user-perceived characters of two code points (and three bytes) each.
std::string combined128()
{
    std::string text;
    for (int i = 0; i < 128; ++i)
        text += "e\u0301";
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Checks, RelayCommandCases,
    testing::Values(
        Case{"requestSnapshot", command("request_snapshot"), RelayCommand{Kind::requestSnapshot, uuid, {}}},
        Case{"markSeen", command("mark_notification_seen"), RelayCommand{Kind::markNotificationSeen, uuid, {}}},
        Case{"stopThread", command("stop_thread"), RelayCommand{Kind::stopThread, uuid, "thread-1"}},
        Case{"shellType", command("shell"), std::nullopt},
        Case{"appServerMethodType", command("thread/start"), std::nullopt},
        Case{"typeMissing", command("request_snapshot", {{"type", nullptr}}), std::nullopt},
        Case{"typeNotAString", command("request_snapshot", {{"type", 3}}), std::nullopt},
        Case{"idAbc", command("request_snapshot", {{"commandId", "abc"}}), std::nullopt},
        Case{"idAbcForStop", command("stop_thread", {{"commandId", "abc"}}), std::nullopt},
        Case{"idMissing", command("request_snapshot", {{"commandId", nullptr}}), std::nullopt},
        Case{"idInBraces", command("request_snapshot", {{"commandId", "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}"}}), std::nullopt},
        Case{"idWithoutHyphens", command("request_snapshot", {{"commandId", "3F2504E04F8911D39A0C0305E82C3301"}}), std::nullopt},
        Case{"idNotHex", command("request_snapshot", {{"commandId", "3F2504E0-4F89-11D3-9A0C-0305E82C330G"}}), std::nullopt},
        Case{"idLowerCaseKeptAsSent", command("request_snapshot", {{"commandId", "3f2504e0-4f89-11d3-9a0c-0305e82c3301"}}),
             RelayCommand{Kind::requestSnapshot, "3f2504e0-4f89-11d3-9a0c-0305e82c3301", {}}},
        Case{"expiredOneSecondAgo", command("request_snapshot", {{"expiresAt", "2026-05-01T09:29:59Z"}}), std::nullopt},
        Case{"expiringExactlyNow", command("request_snapshot", {{"expiresAt", "2026-05-01T09:30:00Z"}}), std::nullopt},
        Case{"expiryWithMilliseconds", command("request_snapshot", {{"expiresAt", "2026-05-01T09:31:00.000Z"}}), std::nullopt},
        Case{"expiryWithOffset", command("request_snapshot", {{"expiresAt", "2026-05-01T11:30:01+02:00"}}),
             RelayCommand{Kind::requestSnapshot, uuid, {}}},
        Case{"expiryPastThroughOffset", command("request_snapshot", {{"expiresAt", "2026-05-01T11:29:59+02:00"}}), std::nullopt},
        Case{"expiryWithoutZone", command("request_snapshot", {{"expiresAt", "2026-05-01T09:31:00"}}), std::nullopt},
        Case{"expiryNotAString", command("request_snapshot", {{"expiresAt", 1777627860}}), std::nullopt},
        Case{"expiryMissing", command("request_snapshot", {{"expiresAt", nullptr}}), std::nullopt},
        Case{"stopWithoutThread", command("stop_thread", {{"threadId", nullptr}}), std::nullopt},
        Case{"stopThreadNotAString", command("stop_thread", {{"threadId", 7}}), std::nullopt},
        Case{"stopThread128", command("stop_thread", {{"threadId", threadId128.c_str()}}),
             RelayCommand{Kind::stopThread, uuid, threadId128}},
        Case{"stopThread129", command("stop_thread", {{"threadId", threadId129.c_str()}}), std::nullopt},
        Case{"stopThread128Combined", command("stop_thread", {{"threadId", combined128().c_str()}}),
             RelayCommand{Kind::stopThread, uuid, combined128()}},
        Case{"snapshotIgnoresThread", command("request_snapshot", {{"threadId", threadId129.c_str()}}),
             RelayCommand{Kind::requestSnapshot, uuid, {}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(RelayCommands, StopFailureNamesTheReason)
{
    EXPECT_EQ(RelayCommands::stopFailedMessage("The Codex App Server did not respond in time."),
              "Codex could not be stopped: The Codex App Server did not respond in time.");
}

} // namespace
} // namespace orvane
