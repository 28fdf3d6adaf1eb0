#include "ui/icons.h"

namespace orvane::Icons {

QIcon bundled(const char *name)
{
    return QIcon(QStringLiteral(":/orvane/icons/%1.svg").arg(QLatin1String(name)));
}

QIcon themed(const char *themeName, const char *bundledName)
{
    return QIcon::fromTheme(QLatin1String(themeName), bundled(bundledName));
}

} // namespace orvane::Icons
