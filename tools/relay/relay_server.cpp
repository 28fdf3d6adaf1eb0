#include "relay/relay_server.h"

#include "relay/channel_hub.h"
#include "relay/channel_store.h"
#include "relay/connection_gate.h"
#include "relay/glasses_page.h"
#include "relay/http_session.h"
#include "relay/relay_context.h"
#include "relay/relay_endpoints.h"
#include "relay/relay_log.h"
#include "relay/routes.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>
#include <limits>
#include <thread>

namespace orvane {
namespace {

using boost::asio::ip::tcp;

// Connections the descriptor limit leaves room for, beside the database and the listener.
int descriptorRoom()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > static_cast<rlim_t>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    const auto room = limit.rlim_cur > 128 ? limit.rlim_cur - 64 : limit.rlim_cur / 2;
    return static_cast<int>(room);
}

// Asio leaves descriptors inheritable: a process the host program starts later would keep the
// relay's port and connections open after the relay has closed them.
void closeOnExec(int descriptor)
{
    ::fcntl(descriptor, F_SETFD, ::fcntl(descriptor, F_GETFD) | FD_CLOEXEC);
}

} // namespace

class RelayServer::Running {
public:
    explicit Running(const Options &options)
        : options_(options), channels_(options.dataDirectory.toStdString()), pins_(options.limits, options.clock),
          hub_(channels_, options.server.subscribersPerChannel),
          gate_(options.server.connectionsPerClient, std::min(options.server.connectionsTotal, descriptorRoom())),
          context_{options_.server, options_.trustedProxies, options_.authenticationTimeout, channels_, hub_, routes_},
          acceptor_(io_), acceptPause_(io_), sweepTimer_(io_)
    {
        addRelayEndpoints(routes_, channels_, pins_, hub_);
        GlassesPage::addRoutes(routes_);
    }

    ~Running()
    {
        io_.stop();
        if (thread_.joinable())
            thread_.join();
        hub_.shutDown();
    }

    boost::system::error_code listen(const tcp::endpoint &endpoint)
    {
        boost::system::error_code error;
        acceptor_.open(endpoint.protocol(), error);
        if (!error)
            closeOnExec(acceptor_.native_handle());
        if (!error)
            acceptor_.set_option(tcp::acceptor::reuse_address(true), error);
        if (!error)
            acceptor_.bind(endpoint, error);
        if (!error)
            acceptor_.listen(tcp::socket::max_listen_connections, error);
        return error;
    }

    quint16 port() const { return acceptor_.local_endpoint().port(); }

    void run()
    {
        acceptNext();
        sweepLater();
        thread_ = std::thread([this] {
            const auto work = boost::asio::make_work_guard(io_);
            io_.run();
        });
    }

private:
    void acceptNext()
    {
        acceptor_.async_accept([this](boost::system::error_code error, tcp::socket socket) {
            if (error == boost::asio::error::operation_aborted)
                return;
            if (error) {
                // Out of descriptors: the waiting connection stays queued and would wake us at
                // once, so pause instead of spinning.
                acceptPause_.expires_after(std::chrono::milliseconds(100));
                acceptPause_.async_wait([this](boost::system::error_code) { acceptNext(); });
                return;
            }
            closeOnExec(socket.native_handle());
            boost::system::error_code ignored;
            const IpAddress peer = plainAddress(socket.remote_endpoint(ignored).address());
            ConnectionGate::Ticket ticket;
            if (gate_.admit(clientKey(peer), isTrustedProxy(peer, options_.trustedProxies), ticket))
                std::make_shared<HttpSession>(std::move(socket), context_, std::move(ticket))->start();
            acceptNext();
        });
    }

    void sweepLater()
    {
        sweepTimer_.expires_after(options_.server.sweepInterval);
        sweepTimer_.async_wait([this](boost::system::error_code error) {
            if (error)
                return;
            sweep();
            sweepLater();
        });
    }

    void sweep()
    {
        for (const QString &abandoned : pins_.takeAbandonedChannels()) {
            const std::string channelId = abandoned.toStdString();
            channels_.remove(channelId);
            hub_.end(channelId);
            relayLog("channel expired " + shortId(channelId) + ": its glasses never collected the pairing");
        }
        for (const std::string &present : hub_.channelsWithPublishers())
            channels_.touch(present);
        for (const std::string &idle : channels_.expire(options_.server.channelIdleLife)) {
            hub_.end(idle);
            relayLog("channel expired " + shortId(idle) + ": no publisher for too long");
        }
    }

    Options options_;
    ChannelStore channels_;
    PinBook pins_;
    ChannelHub hub_;
    ConnectionGate gate_;
    Routes routes_;
    RelayContext context_;
    // Declared after everything its pending handlers use, so those die first.
    boost::asio::io_context io_;
    tcp::acceptor acceptor_;
    boost::asio::steady_timer acceptPause_;
    boost::asio::steady_timer sweepTimer_;
    std::thread thread_;
};

RelayServer::RelayServer(const Options &options) : running_(std::make_unique<Running>(options)) {}

RelayServer::~RelayServer() = default;

std::optional<quint16> RelayServer::listenAt(const QHostAddress &host, quint16 port)
{
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address(host.toString().toStdString(), error);
    if (!error)
        error = running_->listen(tcp::endpoint(address, port));
    if (error) {
        listenError_ = error.message();
        return std::nullopt;
    }
    const quint16 bound = running_->port();
    running_->run();
    return bound;
}

} // namespace orvane
