#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace orvane::GlassesPage {

// One file of the glasses page, bundled into the relay as a Qt resource.
struct File {
    QByteArray body;
    QByteArray contentType;
};

// The file a GET of `path` serves ("/" is the page itself), or nothing for any other path.
std::optional<File> find(const QString &path);

// Headers every answer of the page carries: the page may load only its own script and style
// and talk only to this relay, never be framed, and leak no referrer.
const std::vector<std::pair<QByteArray, QByteArray>> &securityHeaders();

} // namespace orvane::GlassesPage
