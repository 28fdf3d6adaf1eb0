#pragma once

#include <stdexcept>
#include <string>

namespace orvane {

// The relay code's failures; `what()` is the user-facing text.
class RelayError : public std::runtime_error {
public:
    enum class Kind {
        pairingRejected, // the relay's own message, or the fallback text
        invalidURL,
        invalidResponse,
        disconnected,
        transport,       // the network layer's description (no route, time-out, TLS)
        unreadableReply, // a success answer that is not JSON; the parser's description
    };

    RelayError(Kind kind, const std::string &message) : std::runtime_error(message), kind_(kind) {}
    // For the kinds whose text is fixed.
    explicit RelayError(Kind kind) : RelayError(kind, fixedText(kind)) {}

    Kind kind() const { return kind_; }

    static std::string fixedText(Kind kind);

private:
    Kind kind_;
};

} // namespace orvane
