#pragma once

#include <QtGlobal>

#include <boost/json/object.hpp>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// The relay wire messages: what the publisher sends, and what it makes of what it receives.
namespace orvane::RelayMessages {

// 256 KiB of UTF-8, the ceiling for one message either way.
inline constexpr std::size_t sizeLimit = 262'144;

// The most the publisher takes in one inbound message or frame; the socket is closed and
// reopened when the relay sends more.
inline constexpr qint64 inboundLimit = 1024 * 1024;
inline constexpr const char *tooLargeMessage =
    "The relay sent a message larger than 1 MiB; the connection was closed and will be reopened.";

using Clock = std::chrono::system_clock;

boost::json::object authenticate(std::string_view publisherToken, std::string_view deviceName);
boost::json::object heartbeat(Clock::time_point now);
// The "event" message answering one command. The message is redacted and cut to 300
// user-perceived characters; the identifier is a fresh upper-case UUID.
boost::json::object commandResult(std::string_view commandId, std::string_view status,
                                  std::string_view message, std::int64_t sequence, Clock::time_point now);

struct Inbound {
    enum class Kind { authenticated, command, revoked, error, ignored };
    Kind kind = Kind::ignored;
    boost::json::object command; // with command
    std::string errorText;       // with error
};

// One inbound text: over-long, unparsable, not an object, without a string "type", of an
// unknown type or a command that is not an object all come back as ignored.
Inbound read(std::string_view text);

} // namespace orvane::RelayMessages
