#pragma once

#include <QUrl>

#include <optional>
#include <ostream>
#include <string>

// Which relay the companion publishes to.
namespace orvane::RelayBaseUrl {

// The relay chosen when building, ORVANE_DEFAULT_RELAY_URL.
QUrl fallback();

// Why the publisher token may not travel to `url`, or nothing: https goes anywhere, plain
// http only to this computer's loopback addresses.
std::optional<std::string> insecurity(const QUrl &url);

// `configured` (the ORVANE_RELAY_URL text) when it is an absolute URL with a scheme and a
// host that may carry the token; otherwise the fallback, and when something unusable was
// configured, one line on `errors` saying it was refused.
QUrl choose(const std::optional<QString> &configured, std::ostream &errors);

// The same for the process environment, refusals going to standard error.
QUrl fromEnvironment();

// The one line refusing an ORVANE_RELAY_URL that would send the token in clear, or nothing.
std::optional<std::string> environmentRefusal();

} // namespace orvane::RelayBaseUrl
