#include "companion/relay_base_url.h"

#include "normalize/terminal_text.h"

#include <QHostAddress>
#include <QtGlobal>

#include <iostream>

namespace orvane::RelayBaseUrl {
namespace {

bool isLoopback(const QString &host)
{
    return host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0 || QHostAddress(host).isLoopback();
}

std::string shown(const QString &configured)
{
    return "ORVANE_RELAY_URL \"" + TerminalText::line(configured.toStdString(), 200) + "\"";
}

} // namespace

QUrl fallback()
{
    return QUrl(QStringLiteral(ORVANE_DEFAULT_RELAY_URL), QUrl::StrictMode);
}

std::optional<std::string> insecurity(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QStringLiteral("https"))
        return std::nullopt;
    if (scheme == QStringLiteral("http"))
        return isLoopback(url.host()) ? std::nullopt
                                      : std::optional<std::string>("plain http is allowed only to this computer "
                                                                   "(localhost); use https");
    return "the relay address must start with https:// (or http:// to this computer)";
}

QUrl choose(const std::optional<QString> &configured, std::ostream &errors)
{
    if (!configured)
        return fallback();
    const QUrl url(*configured, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        errors << shown(*configured) << " is not an absolute URL with a scheme and a host; using "
               << ORVANE_DEFAULT_RELAY_URL << " instead." << std::endl;
        return fallback();
    }
    if (const auto why = insecurity(url)) {
        errors << shown(*configured) << " refused: " << *why << "; using " << ORVANE_DEFAULT_RELAY_URL << " instead."
               << std::endl;
        return fallback();
    }
    return url;
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
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return shown(*configured) + " is not an absolute URL with a scheme and a host, such as "
               "http://127.0.0.1:8787. Set it to the relay's base URL, or unset it to use " ORVANE_DEFAULT_RELAY_URL ".";
    if (const auto why = insecurity(url))
        return shown(*configured) + " refused: " + *why + ".";
    return std::nullopt;
}

} // namespace orvane::RelayBaseUrl
