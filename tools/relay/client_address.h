#pragma once

#include <boost/asio/ip/address.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace orvane {

using IpAddress = boost::asio::ip::address;

// The key a client's budgets are kept under: its IPv4 address, or its IPv6 /64, since one
// subscriber line usually owns a whole /64 and could otherwise take a new address per guess.
std::string clientKey(const IpAddress &address);

// The client a request comes from. Only a connection from a trusted proxy may name another
// one in X-Forwarded-For; its right-most entry that is not a trusted proxy is the client.
IpAddress clientAddress(const IpAddress &peer, std::string_view forwardedFor,
                        const std::vector<IpAddress> &trustedProxies);

bool isTrustedProxy(const IpAddress &peer, const std::vector<IpAddress> &trustedProxies);

// IPv4-mapped IPv6 addresses become IPv4, so one client has one key whichever socket it used.
IpAddress plainAddress(const IpAddress &address);

} // namespace orvane
