#pragma once

#include "relay/client_address.h"
#include "relay/pin_book.h"
#include "relay/server_limits.h"

#include <QHostAddress>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// orvane-relay: accepts connections on its own I/O thread, admits them through the connection
// gate, and hands them to HTTP sessions (the endpoints in relay_endpoints.h, the glasses page in
// glasses_page.h, and the upgrade of /v1/channels/{id}/connect to a WebSocket). Expired channels
// are swept once a minute.
class RelayServer {
public:
    struct Options {
        QString dataDirectory;
        PinBook::Limits limits;
        PinBook::Clock clock = &QDateTime::currentDateTimeUtc;
        std::chrono::milliseconds authenticationTimeout = std::chrono::seconds(10);
        ServerLimits server;
        std::vector<IpAddress> trustedProxies;
    };

    // Throws ChannelStoreError when the data directory cannot hold the database.
    explicit RelayServer(const Options &options);
    ~RelayServer();
    RelayServer(const RelayServer &) = delete;
    RelayServer &operator=(const RelayServer &) = delete;

    // The port listened on (the chosen one when `port` is 0), or nothing when the address
    // cannot be bound; listenError() then says why.
    std::optional<quint16> listenAt(const QHostAddress &host, quint16 port);
    const std::string &listenError() const { return listenError_; }

private:
    class Running;
    std::unique_ptr<Running> running_;
    std::string listenError_;
};

} // namespace orvane
