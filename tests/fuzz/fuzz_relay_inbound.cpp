// One inbound relay message; the command it may carry goes through the companion's checks, and
// one they pass is taken once by the replay guard.
#include "companion/command_replay_guard.h"
#include "companion/relay_command.h"
#include "relay/relay_messages.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace orvane;
    const auto message = RelayMessages::read(std::string_view(reinterpret_cast<const char *>(data), size));
    if (message.kind != RelayMessages::Inbound::Kind::command)
        return 0;
    const auto now = DateFormatting::Clock::time_point(std::chrono::seconds(1'780'000'000));
    const auto command = RelayCommands::accept(message.command, now);
    if (!command)
        return 0;
    if (command->expiresAt <= now || command->expiresAt > now + RelayCommands::expiryHorizon)
        __builtin_trap();
    CommandReplayGuard guard;
    if (!guard.admit(command->commandId, command->expiresAt, now) || guard.admit(command->commandId, command->expiresAt, now))
        __builtin_trap();
    return 0;
}
