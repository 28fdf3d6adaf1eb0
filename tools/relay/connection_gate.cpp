#include "relay/connection_gate.h"

#include <utility>

namespace orvane {

ConnectionGate::Ticket &ConnectionGate::Ticket::operator=(Ticket &&other) noexcept
{
    if (this != &other) {
        release();
        gate_ = std::exchange(other.gate_, nullptr);
        clientKey_ = std::move(other.clientKey_);
    }
    return *this;
}

void ConnectionGate::Ticket::release()
{
    if (!gate_)
        return;
    --gate_->open_;
    if (!clientKey_.empty()) {
        const auto it = gate_->openByClient_.find(clientKey_);
        if (it != gate_->openByClient_.end() && --it->second == 0)
            gate_->openByClient_.erase(it);
    }
    gate_ = nullptr;
}

bool ConnectionGate::admit(const std::string &clientKey, bool trustedProxy, Ticket &ticket)
{
    if (open_ >= total_)
        return false;
    if (trustedProxy) {
        ++open_;
        ticket = Ticket(this, {});
        return true;
    }
    int &openForClient = openByClient_[clientKey];
    if (openForClient >= perClient_) {
        if (openForClient == 0)
            openByClient_.erase(clientKey);
        return false;
    }
    ++openForClient;
    ++open_;
    ticket = Ticket(this, clientKey);
    return true;
}

} // namespace orvane
