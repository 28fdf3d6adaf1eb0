// Command objects from the glasses: the checks, then the replay guard.
#include "companion/command_replay_guard.h"
#include "companion/relay_command.h"

#include <boost/json/parse.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace orvane;
    boost::system::error_code error;
    const auto json = boost::json::parse(std::string_view(reinterpret_cast<const char *>(data), size), error);
    if (error || !json.is_object())
        return 0;
    const auto now = DateFormatting::Clock::time_point(std::chrono::seconds(1'780'000'000));
    const auto command = RelayCommands::accept(json.as_object(), now);
    if (!command)
        return 0;
    if (command->expiresAt <= now || command->expiresAt > now + RelayCommands::expiryHorizon)
        __builtin_trap();
    CommandReplayGuard guard;
    if (!guard.admit(command->commandId, command->expiresAt, now) || guard.admit(command->commandId, command->expiresAt, now))
        __builtin_trap();
    return 0;
}
