#include "relay/relay_address.h"

namespace orvane {

std::optional<QUrl> relayAddress(const QUrl &baseURL, const QString &path)
{
    if (!baseURL.isValid() || baseURL.host().isEmpty())
        return std::nullopt;
    QString basePath = baseURL.path(QUrl::FullyDecoded);
    while (basePath.endsWith(u'/'))
        basePath.chop(1);
    QUrl address = baseURL.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
    // Decoded mode, so a "?" or "#" in a stored channel identifier cannot escape the path.
    address.setPath(basePath + path, QUrl::DecodedMode);
    if (!address.isValid())
        return std::nullopt;
    return address;
}

std::optional<QUrl> relaySocketAddress(const QUrl &baseURL, const QString &channelId)
{
    auto address = relayAddress(baseURL, QStringLiteral("/v1/channels/") + channelId + QStringLiteral("/connect"));
    if (address)
        address->setScheme(baseURL.scheme() == QStringLiteral("http") ? QStringLiteral("ws") : QStringLiteral("wss"));
    return address;
}

} // namespace orvane
