// One inbound relay message, and the command it may carry as the companion checks it.
#include "companion/relay_command.h"
#include "relay/relay_messages.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace orvane;
    const auto message = RelayMessages::read(std::string_view(reinterpret_cast<const char *>(data), size));
    if (message.kind == RelayMessages::Inbound::Kind::command) {
        const auto now = DateFormatting::Clock::time_point(std::chrono::seconds(1'780'000'000));
        (void)RelayCommands::accept(message.command, now);
    }
    return 0;
}
