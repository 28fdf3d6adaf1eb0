#pragma once

#include "relay/relay_publisher.h"

#include <boost/json/object.hpp>

#include <string>
#include <utility>
#include <vector>

namespace orvane::test {

// Everything a publisher reported through its three callbacks, in order.
struct PublisherEvents {
    std::vector<std::pair<bool, int>> connections;
    std::vector<boost::json::object> commands;
    std::vector<std::string> errors;

    explicit PublisherEvents(RelayPublisher &publisher)
    {
        publisher.onConnection = [this](bool connected, int attempt) { connections.emplace_back(connected, attempt); };
        publisher.onCommand = [this](const boost::json::object &command) { commands.push_back(command); };
        publisher.onError = [this](const std::string &text) { errors.push_back(text); };
    }

    bool authenticated() const { return !connections.empty() && connections.back() == std::pair(true, 0); }
};

// Short waits, so reconnection and heartbeats take milliseconds in tests.
inline RelayPublisher::Timing quickTiming(std::chrono::milliseconds heartbeat = std::chrono::seconds(20))
{
    RelayPublisher::Timing timing;
    timing.heartbeatInterval = heartbeat;
    timing.reconnectDelay = [](int) { return std::chrono::milliseconds(50); };
    timing.requestTimeout = std::chrono::seconds(5);
    return timing;
}

} // namespace orvane::test
