#include "ui/icons.h"

namespace orvane::Icons {

QIcon bundled(const char *name)
{
    const QString path = QStringLiteral(":/orvane/icons/%1.svg").arg(QLatin1String(name));
    QIcon icon(path);
    // Drawn as is on a selected row too; the style's tint would wash the grey out.
    icon.addFile(path, {}, QIcon::Selected);
    return icon;
}

QIcon themed(const char *themeName, const char *bundledName)
{
    return QIcon::fromTheme(QLatin1String(themeName), bundled(bundledName));
}

} // namespace orvane::Icons
