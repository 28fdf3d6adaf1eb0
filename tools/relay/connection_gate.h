#pragma once

#include <string>
#include <unordered_map>

namespace orvane {

// Counts open connections per client and in total, so that one client, or a crowd, is refused
// at the door instead of starving the others of descriptors and event-loop time.
class ConnectionGate {
public:
    // Held by a connection for its whole life; the place is given back when it goes.
    class Ticket {
    public:
        Ticket() = default;
        Ticket(ConnectionGate *gate, std::string clientKey) : gate_(gate), clientKey_(std::move(clientKey)) {}
        Ticket(Ticket &&other) noexcept { *this = std::move(other); }
        Ticket &operator=(Ticket &&other) noexcept;
        ~Ticket() { release(); }

    private:
        void release();
        ConnectionGate *gate_ = nullptr;
        std::string clientKey_;
    };

    ConnectionGate(int perClient, int total) : perClient_(perClient), total_(total) {}

    // Nothing when the client or the relay is full. A trusted proxy speaks for many clients,
    // so only the total applies to it.
    bool admit(const std::string &clientKey, bool trustedProxy, Ticket &ticket);

private:
    int perClient_;
    int total_;
    int open_ = 0;
    std::unordered_map<std::string, int> openByClient_;
};

} // namespace orvane
