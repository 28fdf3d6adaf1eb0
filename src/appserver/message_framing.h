#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// Turns the child's output bytes into whole JSON messages, and messages into bytes to write.
class MessageFraming {
public:
    struct Fed {
        std::vector<std::string> messages; // complete messages, in order
        std::string reply;                 // bytes to write back at once (handshake, pong)
        bool closed = false;               // the peer ended the stream (treat like the child's exit)
        bool failed = false;               // unrecoverable framing error (disconnect the child)
    };
    virtual ~MessageFraming() = default;
    virtual std::string start() { return {}; }        // bytes to write as soon as the child runs
    virtual bool ready() const { return true; }       // messages may be sent (handshake done)
    virtual Fed feed(std::string_view bytes) = 0;
    virtual std::string encode(std::string_view message) = 0;
};

}
