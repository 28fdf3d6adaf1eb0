#include "companion/relay_command.h"

#include "appserver/companion_command_policy.h"
#include "normalize/unicode_text.h"

#include <boost/json/string.hpp>

#include <array>

namespace orvane::RelayCommands {
namespace {

// A member of the wrong JSON type counts as missing.
std::optional<std::string_view> stringAt(const boost::json::object &object, std::string_view key)
{
    const auto *value = object.if_contains(key);
    if (!value || !value->is_string())
        return std::nullopt;
    return std::string_view(value->get_string());
}

RelayCommand::Kind kindOf(std::string_view type)
{
    if (type == "stop_thread")
        return RelayCommand::Kind::stopThread;
    if (type == "mark_notification_seen")
        return RelayCommand::Kind::markNotificationSeen;
    return RelayCommand::Kind::requestSnapshot;
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

bool isCanonicalUuid(std::string_view text)
{
    constexpr std::array<std::size_t, 4> hyphens{8, 13, 18, 23};
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool hyphenHere = i == hyphens[0] || i == hyphens[1] || i == hyphens[2] || i == hyphens[3];
        if (hyphenHere ? text[i] != '-' : !isHexDigit(text[i]))
            return false;
    }
    return true;
}

std::optional<RelayCommand> accept(const boost::json::object &command,
                                   DateFormatting::Clock::time_point now)
{
    const auto type = stringAt(command, "type");
    if (!type || !CompanionCommandPolicy::allowed().contains(*type))
        return std::nullopt;
    const auto commandId = stringAt(command, "commandId");
    if (!commandId || !isCanonicalUuid(*commandId))
        return std::nullopt;
    const auto expiresText = stringAt(command, "expiresAt");
    if (!expiresText)
        return std::nullopt;
    const auto expiresAt = DateFormatting::parseIso(*expiresText, /*requireNoFraction=*/true);
    if (!expiresAt || *expiresAt <= now || *expiresAt > now + expiryHorizon)
        return std::nullopt;

    RelayCommand accepted{kindOf(*type), std::string(*commandId), {}, *expiresAt};
    if (accepted.kind == RelayCommand::Kind::stopThread) {
        const auto threadId = stringAt(command, "threadId");
        if (!threadId || UnicodeText::graphemeCount(*threadId) > threadIdLimit)
            return std::nullopt;
        accepted.threadId = *threadId;
    }
    return accepted;
}

std::string stopFailedMessage(std::string_view reason)
{
    return "Codex could not be stopped: " + std::string(reason);
}

} // namespace orvane::RelayCommands
