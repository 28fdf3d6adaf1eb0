#include "companion/relay_base_url.h"

#include <QtGlobal>

#include <iostream>

namespace orvane::RelayBaseUrl {

QUrl fallback()
{
    return QUrl(QStringLiteral(ORVANE_DEFAULT_RELAY_URL), QUrl::StrictMode);
}

QUrl choose(const std::optional<QString> &configured, std::ostream &errors)
{
    if (!configured)
        return fallback();
    const QUrl url(*configured, QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty())
        return url;
    errors << "ORVANE_RELAY_URL \"" << configured->toStdString()
           << "\" is not an absolute URL with a scheme and a host; using " << ORVANE_DEFAULT_RELAY_URL
           << " instead." << std::endl;
    return fallback();
}

QUrl fromEnvironment()
{
    std::optional<QString> configured;
    if (qEnvironmentVariableIsSet("ORVANE_RELAY_URL"))
        configured = qEnvironmentVariable("ORVANE_RELAY_URL");
    return choose(configured, std::cerr);
}

} // namespace orvane::RelayBaseUrl
