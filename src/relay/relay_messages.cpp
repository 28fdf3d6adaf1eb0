#include "relay/relay_messages.h"

#include "model/date_formatting.h"
#include "normalize/redactor.h"
#include "normalize/unicode_text.h"

#include <QUuid>

#include <boost/json/parse.hpp>

namespace orvane::RelayMessages {

boost::json::object authenticate(std::string_view publisherToken, std::string_view deviceName)
{
    return {{"type", "authenticate"}, {"role", "publisher"}, {"token", publisherToken}, {"deviceName", deviceName}};
}

boost::json::object heartbeat(Clock::time_point now)
{
    return {{"type", "heartbeat"}, {"sentAt", DateFormatting::iso(now)}};
}

boost::json::object commandResult(std::string_view commandId, std::string_view status,
                                  std::string_view message, std::int64_t sequence, Clock::time_point now)
{
    const std::string redacted = Redactor::redact(message, Redactor::commandResultLimit,
                                                  Redactor::context("", Redactor::userHome()))
                                    .text;
    const std::string id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    boost::json::object event{
        {"schemaVersion", 1},
        {"id", id},
        {"sequence", sequence},
        {"occurredAt", DateFormatting::iso(now)},
        {"type", "command_result"},
        {"commandId", commandId},
        {"status", status},
        {"message", UnicodeText::firstGraphemes(redacted, Redactor::commandResultLimit)},
    };
    return {{"type", "event"}, {"event", std::move(event)}};
}

Inbound read(std::string_view text)
{
    if (text.size() > sizeLimit)
        return {};
    boost::system::error_code error;
    const boost::json::value json = boost::json::parse(text, error);
    const boost::json::object *message = error ? nullptr : json.if_object();
    const boost::json::value *type = message ? message->if_contains("type") : nullptr;
    if (!type || !type->is_string())
        return {};
    const std::string_view name = type->get_string();
    if (name == "authenticated")
        return {Inbound::Kind::authenticated, {}, {}};
    if (name == "revoked")
        return {Inbound::Kind::revoked, {}, {}};
    if (name == "command") {
        const boost::json::value *command = message->if_contains("command");
        if (command && command->is_object())
            return {Inbound::Kind::command, command->get_object(), {}};
        return {};
    }
    if (name == "error") {
        const boost::json::value *said = message->if_contains("message");
        return {Inbound::Kind::error, {}, said && said->is_string() ? std::string(said->get_string()) : "Relay error"};
    }
    return {};
}

} // namespace orvane::RelayMessages
