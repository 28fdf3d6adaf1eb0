#pragma once
#include "appserver/app_server_transport.h"
#include "appserver/connection_mode.h"
#include "appserver/daemon_socket.h"

#include <QCoroTask>
#include <QStringList>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// The waits and places a client uses; tests shorten and replace them.
struct AppServerClientOptions {
    std::chrono::milliseconds requestTimeout{std::chrono::seconds(8)};
    // Bounds `codex --version` and the daemon probe: one that hangs must not hang connecting.
    std::chrono::milliseconds commandLimit{std::chrono::seconds(10)};
    std::vector<std::string> fixedCandidates{"/Applications/ChatGPT.app/Contents/Resources/codex",
                                             "/opt/homebrew/bin/codex", "/usr/local/bin/codex"};
    std::function<std::unique_ptr<MessageFraming>(ConnectionMode)> framing = makeFraming;
    // Asked before the daemon probe; the probe command runs only on a yes.
    std::function<bool()> daemonMayRun = DaemonSocket::mayRun;
};

// The companion's one link to Codex: finds `codex`, starts its App Server, shakes hands and
// offers one typed call per App Server method the companion uses.
class AppServerClient {
public:
    static constexpr bool cancellationSupported = true;
    static constexpr const char *protocolVersion = "v2 (Codex 0.144.2 schema)";

    explicit AppServerClient(AppServerClientOptions options = {});
    ~AppServerClient();
    AppServerClient(const AppServerClient &) = delete;
    AppServerClient &operator=(const AppServerClient &) = delete;

    // Makes sure a child runs and has shaken hands; returns the initialize result, or an empty
    // object when a child was already running. Callers arriving while a connect is under way
    // share its outcome instead of starting a second child.
    QCoro::Task<boost::json::object> connect();
    void disconnect();
    // Ends the running child and connects anew, probing for the daemon again; joins a connect
    // already under way instead.
    QCoro::Task<boost::json::object> reconnect();
    bool isRunning() const { return m_transport->isRunning(); }
    // How many App Servers this client has shaken hands with: what one showed, another (the
    // daemon after a dedicated child) may show differently.
    std::uint64_t connectionCount() const { return m_connectionCount; }
    bool onDedicatedChild() const;

    // Runs the daemon probe with the `codex` in use. One probe at a time: a caller arriving
    // while one runs takes its answer.
    QCoro::Task<bool> probeDaemon();
    // Whether a client on a running dedicated child, not connecting, last probed `interval`
    // ago or longer and no probe runs now.
    bool daemonRecheckDue(std::chrono::milliseconds interval) const;

    QCoro::Task<boost::json::array> listThreads(std::int64_t limit);
    QCoro::Task<boost::json::object> readThread(std::string id);
    QCoro::Task<std::optional<boost::json::object>> account();
    QCoro::Task<std::optional<boost::json::object>> rateLimits();
    QCoro::Task<std::optional<boost::json::object>> config();
    QCoro::Task<void> interrupt(std::string threadID, std::string turnID);

    void setEventHandler(AppServerTransport::EventHandler handler);
    AppServerTransport &transport() { return *m_transport; }

    const std::optional<std::string> &codexPath() const { return m_codexPath; }
    const std::optional<std::string> &codexVersion() const { return m_codexVersion; }
    const std::string &connectionMode() const { return m_connectionMode; }

    // `ORVANE_CODEX`, when it names something, is the only candidate; otherwise the fixed
    // places, then each non-empty `PATH` piece.
    static std::vector<std::string> codexCandidates(const std::vector<std::string> &fixedCandidates);
    static std::optional<std::string> findCodex(const std::vector<std::string> &fixedCandidates);
    // Standard output of a short command that exits with status 0 within `limit` and writes
    // valid UTF-8; nothing otherwise. One that overruns is killed.
    static QCoro::Task<std::optional<std::string>> run(std::string path, QStringList arguments,
                                                       std::chrono::milliseconds limit);

private:
    QCoro::Task<boost::json::object> establish();
    QCoro::Task<boost::json::object> startAndShakeHands(std::string path, ConnectionMode mode);
    QCoro::Task<std::optional<boost::json::object>> optionalRead(std::string method,
                                                                 boost::json::value params);

    // Set false when the client goes: a short command or a launch it awaited may finish later,
    // and the coroutine that resumes then must not touch it.
    using AliveToken = std::shared_ptr<bool>;
    AliveToken m_alive = std::make_shared<bool>(true);
    AppServerClientOptions m_options;
    std::unique_ptr<AppServerTransport> m_transport;
    std::optional<std::string> m_codexPath;
    std::optional<std::string> m_codexVersion;
    std::string m_connectionMode = connectionModeLabel(ConnectionMode::dedicatedStdio);
    std::uint64_t m_connectionCount = 0;
    // The connection whose first list the App Server answered.
    std::uint64_t m_listedOnConnection = 0;
    bool m_connecting = false;
    std::int64_t m_connectWaiters = 0;
    PendingRequests m_connectWaitList;
    bool m_probing = false;
    std::chrono::steady_clock::time_point m_lastProbe;
    std::int64_t m_probeWaiters = 0;
    PendingRequests m_probeWaitList;
};

}
