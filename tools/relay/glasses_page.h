#pragma once

#include "relay/routes.h"

#include <string_view>
#include <utility>
#include <vector>

namespace orvane::GlassesPage {

// Headers every answer of the page carries: the page may load only its own script and style
// and talk only to this relay, never be framed, and leak no referrer.
const std::vector<std::pair<std::string_view, std::string_view>> &securityHeaders();

// GET routes for the page's files, bundled into the relay as Qt resources: "/" is the page
// itself, then /glasses.css, /glasses.js and /favicon.svg.
void addRoutes(Routes &routes);

} // namespace orvane::GlassesPage
