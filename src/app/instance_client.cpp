#include "app/instance_client.h"

#include "app/instance_server.h"

#include <QDeadlineTimer>
#include <QLocalSocket>

namespace orvane::InstanceClient {
namespace {

constexpr int connectLimitMs = 2000;

bool connectTo(QLocalSocket &socket)
{
    socket.connectToServer(InstanceServer::socketPath());
    return socket.waitForConnected(connectLimitMs);
}

} // namespace

bool running()
{
    QLocalSocket socket;
    return connectTo(socket);
}

std::optional<InstanceReply> ask(const InstanceRequest &request, std::chrono::milliseconds limit)
{
    QLocalSocket socket;
    if (!connectTo(socket))
        return std::nullopt;
    socket.write(request.encode());
    // The companion closes the socket after its answer.
    const QDeadlineTimer deadline(limit);
    socket.waitForBytesWritten(connectLimitMs);
    while (socket.state() != QLocalSocket::UnconnectedState && !deadline.hasExpired())
        socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    const QByteArray answer = socket.readAll();
    if (socket.state() != QLocalSocket::UnconnectedState || answer.isEmpty())
        return InstanceReply{false, "The running companion did not answer."};
    return InstanceReply::decode(answer);
}

} // namespace orvane::InstanceClient
