#include "relay/relay_error.h"

namespace orvane {

std::string RelayError::fixedText(Kind kind)
{
    switch (kind) {
    case Kind::invalidURL:
        return "The relay URL is invalid.";
    case Kind::invalidResponse:
        return "The relay returned an unsupported response.";
    case Kind::disconnected:
        return "The relay is disconnected.";
    case Kind::pairingRejected:
        return "Pairing failed. Check the PIN and try again.";
    case Kind::transport:
        return "The relay could not be reached.";
    case Kind::unreadableReply:
        return "The relay's answer could not be read.";
    }
    return {};
}

} // namespace orvane
