#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace orvane {

// A relay address: the base URL with `path` appended behind the base's own path. Nothing when
// the base is not an absolute URL with a host.
std::optional<QUrl> relayAddress(const QUrl &baseURL, const QString &path);

// The channel's WebSocket address: scheme "http" becomes "ws", any other scheme (or none)
// "wss"; host, port and base path stay.
std::optional<QUrl> relaySocketAddress(const QUrl &baseURL, const QString &channelId);

} // namespace orvane
