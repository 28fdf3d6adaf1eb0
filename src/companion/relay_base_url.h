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

// The ORVANE_RELAY_URL text, when set.
std::optional<QString> configuredInEnvironment();

// Why `configured` cannot be used, with what to set instead: not an absolute URL, or one the
// publisher token may not travel to. Nothing when it can, or when nothing is configured. The
// command line refuses to start on it rather than fall back.
std::optional<std::string> refusal(const std::optional<QString> &configured);

} // namespace orvane::RelayBaseUrl
