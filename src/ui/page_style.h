#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QPalette;
class QPushButton;
class QWidget;

// The pages' shared look: fonts scaled from the desktop's, colours taken from its palette, and
// labels that never read outside text as markup.
namespace orvane::PageStyle {

QFont largeTitleFont(const QFont &base);
QFont titleThreeFont(const QFont &base);
QFont captionFont(const QFont &base);

bool isDark(const QPalette &palette);
// Orange and red that keep their contrast on a light and on a dark window.
QColor warningColor(const QPalette &palette);
QColor destructiveColor(const QPalette &palette);

// A plain-text label that wraps; threads and errors come from outside and may hold "<" or "&".
QLabel *plainLabel(const QString &text, QWidget *parent);
// Dimmed the way the desktop dims placeholder text, following palette changes.
void makeSecondary(QWidget *widget);
void makeDestructive(QPushButton *button);

} // namespace orvane::PageStyle
