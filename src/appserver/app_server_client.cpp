#include "appserver/app_server_client.h"
#include "appserver/codex_version.h"

#include "appserver/app_server_error.h"

#include <QString>

namespace orvane {
namespace {

boost::json::object initializeParams()
{
    return {{"clientInfo", {{"name", "orvane"}, {"title", "Orvane Companion"}, {"version", "0.1.0"}}},
            {"capabilities", {{"experimentalApi", false}}}};
}

}

AppServerClient::AppServerClient(AppServerClientOptions options)
    : m_options(std::move(options)),
      m_transport(std::make_unique<AppServerTransport>(m_options.requestTimeout))
{
}

AppServerClient::~AppServerClient()
{
    *m_alive = false;
}

void AppServerClient::setEventHandler(AppServerTransport::EventHandler handler)
{
    m_transport->eventHandler = std::move(handler);
}

void AppServerClient::disconnect()
{
    m_transport->disconnect();
}

QCoro::Task<boost::json::object> AppServerClient::connect()
{
    if (isRunning() && !m_connecting)
        co_return boost::json::object{};
    if (m_connecting) {
        auto outcome = m_connectWaitList.add(++m_connectWaiters);
        co_await outcome;
        co_return boost::json::object{};
    }
    m_connecting = true;
    const AliveToken alive = m_alive;
    std::exception_ptr failure;
    boost::json::object result;
    try {
        result = co_await establish();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!*alive)
        throw AppServerError::disconnected();
    m_connecting = false;
    if (failure) {
        m_connectWaitList.failAll(failure);
        std::rethrow_exception(failure);
    }
    m_connectWaitList.resolveAll(nullptr);
    co_return result;
}

QCoro::Task<boost::json::object> AppServerClient::establish()
{
    const auto path = findCodex(m_options.fixedCandidates);
    if (!path) {
        if (const auto chosen = qgetenv("ORVANE_CODEX"); !chosen.isEmpty())
            throw AppServerError::chosenCodexUnusable(chosen.toStdString());
        throw AppServerError::codexMissing();
    }
    m_codexPath = path;

    m_codexVersion.reset();
    const AliveToken alive = m_alive;
    const QStringList versionQuery{QStringLiteral("--version")};
    const auto version = co_await run(*path, versionQuery, m_options.commandLimit);
    if (!*alive)
        throw AppServerError::disconnected();
    if (version)
        m_codexVersion = codexVersionLine(*version);
    const bool daemon = co_await probeDaemon();
    if (!*alive)
        throw AppServerError::disconnected();
    if (!daemon)
        co_return co_await startAndShakeHands(*path, ConnectionMode::dedicatedStdio);

    try {
        co_return co_await startAndShakeHands(*path, ConnectionMode::managedDaemonProxy);
    } catch (...) {
        // The proxy did not work out; a dedicated child is tried once.
    }
    co_return co_await startAndShakeHands(*path, ConnectionMode::dedicatedStdio);
}

QCoro::Task<boost::json::object> AppServerClient::reconnect()
{
    if (!m_connecting)
        disconnect();
    co_return co_await connect();
}

bool AppServerClient::onDedicatedChild() const
{
    return isRunning() && m_connectionMode == connectionModeLabel(ConnectionMode::dedicatedStdio);
}

QCoro::Task<bool> AppServerClient::probeDaemon()
{
    if (m_probing) {
        auto outcome = m_probeWaitList.add(++m_probeWaiters);
        co_return (co_await outcome).as_bool();
    }
    m_probing = true;
    m_lastProbe = std::chrono::steady_clock::now();
    const AliveToken alive = m_alive;
    const QStringList daemonProbe{QStringLiteral("app-server"), QStringLiteral("daemon"), QStringLiteral("version")};
    bool available = false;
    if (const auto path = m_codexPath; path && m_options.daemonMayRun())
        available = (co_await run(*path, daemonProbe, m_options.commandLimit)).has_value();
    if (!*alive)
        co_return false;
    m_probing = false;
    m_probeWaitList.resolveAll(available);
    co_return available;
}

bool AppServerClient::daemonRecheckDue(std::chrono::milliseconds interval) const
{
    return !m_connecting && !m_probing && onDedicatedChild()
        && std::chrono::steady_clock::now() - m_lastProbe >= interval;
}

QCoro::Task<boost::json::object> AppServerClient::startAndShakeHands(std::string path, ConnectionMode mode)
{
    const AliveToken alive = m_alive;
    std::exception_ptr failure;
    try {
        QStringList arguments{QStringLiteral("app-server")};
        arguments << (mode == ConnectionMode::managedDaemonProxy ? QStringLiteral("proxy")
                                                                 : QStringLiteral("--stdio"));
        co_await m_transport->start(QString::fromStdString(path), arguments, m_options.framing(mode));
        m_connectionMode = connectionModeLabel(mode);
        auto result = co_await m_transport->request("initialize", initializeParams());
        m_transport->notify("initialized");
        if (!result.is_object())
            throw AppServerError::invalidResponse();
        ++m_connectionCount;
        co_return std::move(result.as_object());
    } catch (...) {
        failure = std::current_exception();
    }
    // A child that did not finish the handshake must not pass for a connected one.
    if (*alive)
        m_transport->disconnect();
    std::rethrow_exception(failure);
}

}
