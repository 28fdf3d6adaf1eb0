#pragma once

#include <QAbstractSocket>
#include <QNetworkReply>
#include <QString>
#include <QUrl>

#include <optional>
#include <string>

// Failures to reach the relay at all, told with the address tried and what to do about it.
namespace orvane::RelayReach {

// "Could not reach the relay at URL: connection refused. Is orvane-relay running? make run
// starts one." `reason` is the network layer's description.
std::string unreachable(const QUrl &baseURL, const QString &reason);

// The text for a socket error: `unreachable` when no connection could be made, else the
// network layer's own description.
std::string socketFailure(const QUrl &baseURL, QAbstractSocket::SocketError error, const QString &reason);

// `unreachable` for an HTTP call that found no relay; nothing for any other outcome.
std::optional<std::string> replyFailure(const QUrl &baseURL, const QNetworkReply &reply);

} // namespace orvane::RelayReach
