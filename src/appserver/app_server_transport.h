#pragma once
#include "appserver/message_framing.h"
#include "appserver/pending_requests.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QStringList>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace orvane {

// The App Server child and the messages that pass over its standard input and output:
// launching, framing, matching responses to requests by id, the per-request time-out,
// delivering notifications and server requests, and teardown.
class AppServerTransport : public QObject {
    Q_OBJECT
public:
    // A notification, or a server request when it carried an "id".
    using EventHandler = std::function<void(const std::string &method,
                                            const std::optional<boost::json::value> &params, bool carriedId)>;

    explicit AppServerTransport(std::chrono::milliseconds requestTimeout, QObject *parent = nullptr);
    ~AppServerTransport() override;

    // Launches `path` with `arguments`, speaking through `framing`. Throws ProcessLaunchError
    // when the child cannot start, and AppServerError when a framing that needs a handshake
    // fails it or does not finish it within the request time-out.
    QCoro::Task<void> start(QString path, QStringList arguments, std::unique_ptr<MessageFraming> framing);

    QCoro::Task<boost::json::value> request(std::string method, std::optional<boost::json::value> params = {});
    void notify(std::string_view method, std::optional<boost::json::value> params = {});

    // Closes the child's input (an App Server exits when it ends, even behind a launcher that
    // keeps signals to itself), asks it to terminate and fails everything pending.
    void disconnect();

    bool isRunning() const;
    qint64 processId() const;

    EventHandler eventHandler;

Q_SIGNALS:
    void framingSettled();

private:
    void send(const boost::json::object &message);
    bool write(const std::string &bytes);
    void consume();
    void handle(std::string_view line);
    void retire(QProcess *process);

    std::chrono::milliseconds m_requestTimeout;
    QProcess *m_process = nullptr;
    std::unique_ptr<MessageFraming> m_framing;
    // Bumped whenever the child is replaced or dropped, so a chunk being dispatched stops
    // when a handler disconnects.
    std::uint64_t m_generation = 0;
    // No lock guards these or the framing buffer: everything runs on the thread that owns the
    // object (the GUI thread's event loop), the process signals, the timers and the coroutines.
    // Never reset, so ids stay unique across restarts of the child.
    std::int64_t m_requestID = 0;
    PendingRequests m_pending;
};

}
