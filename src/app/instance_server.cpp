#include "app/instance_server.h"

#include "app/instance_lock.h"

#include <QCoroTask>
#include <QDir>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <chrono>

namespace orvane {
namespace {

// A client that sends nothing usable in this time, or more than this, is dropped.
constexpr std::chrono::seconds requestLimit{5};
constexpr qsizetype longestRequest = 4096;

} // namespace

InstanceServer::InstanceServer(Handler handler) : handler_(std::move(handler))
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(&server_, &QLocalServer::newConnection, this, &InstanceServer::accept);
}

QString InstanceServer::socketPath()
{
    return QDir(InstanceLock::folder()).filePath(QStringLiteral("instance.socket"));
}

bool InstanceServer::listen()
{
    QLocalServer::removeServer(socketPath());
    return server_.listen(socketPath());
}

void InstanceServer::accept()
{
    while (QLocalSocket *socket = server_.nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(requestLimit, socket, [socket] {
            if (!socket->property("answering").toBool())
                socket->abort();
        });
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] { serve(socket); });
    }
}

void InstanceServer::serve(QLocalSocket *socket)
{
    if (socket->property("answering").toBool())
        return;
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > longestRequest)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine().chopped(1);
    if (line.size() > longestRequest)
        return socket->abort();
    socket->setProperty("answering", true);
    const auto request = InstanceRequest::decode(line);
    const auto answer = [socket = QPointer<QLocalSocket>(socket)](const InstanceReply &reply) {
        if (!socket)
            return;
        socket->write(reply.encode());
        socket->disconnectFromServer();
    };
    if (!request)
        return answer({false, "Unknown request."});
    // The request runs to its end even when the asker gives up; only the answer is dropped.
    QCoro::connect(handler_(*request), this, answer);
}

} // namespace orvane
