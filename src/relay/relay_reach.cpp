#include "relay/relay_reach.h"

namespace orvane::RelayReach {

std::string unreachable(const QUrl &baseURL, const QString &reason)
{
    QString said = reason.trimmed();
    if (said.endsWith(u'.'))
        said.chop(1);
    if (!said.isEmpty())
        said[0] = said[0].toLower();
    return "Could not reach the relay at " + baseURL.toDisplayString(QUrl::RemoveUserInfo).toStdString() + ": "
           + said.toStdString() + ". Is orvane-relay running? make run starts one.";
}

std::string socketFailure(const QUrl &baseURL, QAbstractSocket::SocketError error, const QString &reason)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::SocketTimeoutError:
        return unreachable(baseURL, reason);
    default:
        return reason.toStdString();
    }
}

std::optional<std::string> replyFailure(const QUrl &baseURL, const QNetworkReply &reply)
{
    switch (reply.error()) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::UnknownNetworkError:
        return unreachable(baseURL, reply.errorString());
    default:
        return std::nullopt;
    }
}

} // namespace orvane::RelayReach
