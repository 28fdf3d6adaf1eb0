#include "relay/glasses_page.h"

#include <QFile>

#include <array>
#include <stdexcept>

namespace orvane::GlassesPage {
namespace {

struct Entry {
    const char *path;
    const char *resource;
    const char *contentType;
};

constexpr std::array entries{
    Entry{"/", ":/glasses/index.html", "text/html; charset=utf-8"},
    Entry{"/glasses.css", ":/glasses/glasses.css", "text/css; charset=utf-8"},
    Entry{"/glasses.js", ":/glasses/glasses.js", "text/javascript; charset=utf-8"},
    Entry{"/favicon.svg", ":/glasses/favicon.svg", "image/svg+xml"},
};

std::string resourceBytes(const char *resource)
{
    QFile file(QString::fromLatin1(resource));
    // The files are built into the executable: one missing is a broken build.
    if (!file.open(QIODevice::ReadOnly))
        throw std::logic_error(std::string("The glasses page resource is missing: ") + resource);
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

HttpResponse fileResponse(const std::string &body, std::string_view contentType)
{
    HttpResponse response(http::status::ok, 11);
    response.set(http::field::content_type, contentType);
    response.content_length(body.size());
    for (const auto &[name, value] : securityHeaders())
        response.set(name, value);
    response.body() = body;
    return response;
}

} // namespace

const std::vector<std::pair<std::string_view, std::string_view>> &securityHeaders()
{
    static const std::vector<std::pair<std::string_view, std::string_view>> headers{
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; "
         "base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Cross-Origin-Opener-Policy", "same-origin"},
        {"Cross-Origin-Resource-Policy", "same-origin"},
        {"Permissions-Policy", "camera=(), microphone=(), geolocation=()"},
        {"Cache-Control", "no-store"},
    };
    return headers;
}

void addRoutes(Routes &routes)
{
    for (const Entry &entry : entries) {
        // Read once: the resources cannot change while the relay runs.
        routes.add(http::verb::get, entry.path,
                   [body = resourceBytes(entry.resource), contentType = std::string_view(entry.contentType)](
                       const RouteCall &) { return fileResponse(body, contentType); });
    }
}

} // namespace orvane::GlassesPage
