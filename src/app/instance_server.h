#pragma once

#include "app/instance_request.h"

#include <QCoroTask>
#include <QLocalServer>
#include <QObject>

#include <functional>

namespace orvane {

// The running companion's side of the instance socket: one request per connection, answered
// by the handler and then closed. Only the user can connect (the socket file is private and
// lives in the user's private runtime folder).
class InstanceServer : public QObject {
public:
    using Handler = std::function<QCoro::Task<InstanceReply>(InstanceRequest)>;

    explicit InstanceServer(Handler handler);

    // Listens at socketPath(), replacing a socket file a crashed companion left behind. Call
    // only while holding the InstanceLock. False when listening failed.
    bool listen();

    static QString socketPath();

private:
    void accept();
    void serve(QLocalSocket *socket);

    Handler handler_;
    QLocalServer server_;
};

} // namespace orvane
