#pragma once

#include <QUrl>

#include <optional>
#include <ostream>

// Which relay the companion publishes to.
namespace orvane::RelayBaseUrl {

// The relay chosen when building, ORVANE_DEFAULT_RELAY_URL.
QUrl fallback();

// `configured` (the ORVANE_RELAY_URL text) when it is an absolute URL with a scheme and a
// host; otherwise the fallback, and when something unusable was configured, one line on
// `errors` saying it was refused.
QUrl choose(const std::optional<QString> &configured, std::ostream &errors);

// The same for the process environment, refusals going to standard error.
QUrl fromEnvironment();

} // namespace orvane::RelayBaseUrl
