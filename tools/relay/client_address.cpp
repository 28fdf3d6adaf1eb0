#include "relay/client_address.h"

#include <algorithm>

namespace orvane {
namespace {

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

} // namespace

IpAddress plainAddress(const IpAddress &address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6());
    return address;
}

std::string clientKey(const IpAddress &address)
{
    const IpAddress plain = plainAddress(address);
    if (plain.is_v4())
        return plain.to_string();
    auto bytes = plain.to_v6().to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return boost::asio::ip::address_v6(bytes).to_string() + "/64";
}

bool isTrustedProxy(const IpAddress &peer, const std::vector<IpAddress> &trustedProxies)
{
    const IpAddress plain = plainAddress(peer);
    return std::any_of(trustedProxies.begin(), trustedProxies.end(),
                       [&](const IpAddress &proxy) { return plainAddress(proxy) == plain; });
}

IpAddress clientAddress(const IpAddress &peer, std::string_view forwardedFor,
                        const std::vector<IpAddress> &trustedProxies)
{
    IpAddress client = plainAddress(peer);
    while (isTrustedProxy(client, trustedProxies) && !forwardedFor.empty()) {
        const auto comma = forwardedFor.rfind(',');
        const std::string_view entry = trimmed(comma == std::string_view::npos ? forwardedFor : forwardedFor.substr(comma + 1));
        forwardedFor = comma == std::string_view::npos ? std::string_view() : forwardedFor.substr(0, comma);
        boost::system::error_code error;
        const IpAddress named = boost::asio::ip::make_address(std::string(entry), error);
        if (error)
            break; // a garbled entry: the last proxy that spoke is the best we know
        client = plainAddress(named);
    }
    return client;
}

} // namespace orvane
