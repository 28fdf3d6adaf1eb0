#include "relay/glasses_page.h"

#include <QFile>

#include <array>

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

} // namespace

std::optional<File> find(const QString &path)
{
    for (const Entry &entry : entries) {
        if (path != QLatin1String(entry.path))
            continue;
        QFile file(QString::fromLatin1(entry.resource));
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return File{file.readAll(), entry.contentType};
    }
    return std::nullopt;
}

const std::vector<std::pair<QByteArray, QByteArray>> &securityHeaders()
{
    static const std::vector<std::pair<QByteArray, QByteArray>> headers{
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

} // namespace orvane::GlassesPage
