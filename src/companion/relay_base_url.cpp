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

std::optional<QString> configuredInEnvironment()
{
    if (!qEnvironmentVariableIsSet("ORVANE_RELAY_URL"))
        return std::nullopt;
    return qEnvironmentVariable("ORVANE_RELAY_URL");
}

QUrl fromEnvironment()
{
    return choose(configuredInEnvironment(), std::cerr);
}

std::optional<std::string> refusal(const std::optional<QString> &configured)
{
    if (!configured)
        return std::nullopt;
    const QUrl url(*configured, QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty())
        return std::nullopt;
    // The text is shown back on one bounded line.
    QString shown = configured->left(200);
    for (QChar &c : shown)
        if (c.category() == QChar::Other_Control)
            c = u'?';
    return "ORVANE_RELAY_URL \"" + shown.toStdString() + "\" is not an absolute URL with a scheme and a host, such as "
           "http://127.0.0.1:8787. Set it to the relay's base URL, or unset it to use " ORVANE_DEFAULT_RELAY_URL ".";
}

} // namespace orvane::RelayBaseUrl
