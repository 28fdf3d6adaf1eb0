#pragma once

#include <QIcon>

// The pictures the window and the tray show: bundled SVGs, so they stay sharp at any scale.
namespace orvane::Icons {

// ":/orvane/icons/<name>.svg".
QIcon bundled(const char *name);
// The desktop theme's icon of that name when the theme has one, else the bundled picture.
QIcon themed(const char *themeName, const char *bundledName);

} // namespace orvane::Icons
