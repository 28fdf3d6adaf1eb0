#include "ui/page_style.h"

#include <QLabel>
#include <QPalette>
#include <QPushButton>

namespace orvane::PageStyle {
namespace {

QFont scaled(const QFont &base, double factor, QFont::Weight weight)
{
    QFont font = base;
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * factor);
    else
        font.setPixelSize(qRound(base.pixelSize() * factor));
    font.setWeight(weight);
    return font;
}

} // namespace

QFont largeTitleFont(const QFont &base)
{
    return scaled(base, 2.0, QFont::Bold);
}

QFont titleThreeFont(const QFont &base)
{
    return scaled(base, 1.4, QFont::Bold);
}

QFont captionFont(const QFont &base)
{
    return scaled(base, 0.88, base.weight());
}

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QColor warningColor(const QPalette &palette)
{
    return isDark(palette) ? QColor(0xff, 0xa4, 0x4d) : QColor(0xb3, 0x55, 0x00);
}

QColor destructiveColor(const QPalette &palette)
{
    return isDark(palette) ? QColor(0xff, 0x7b, 0x72) : QColor(0xc0, 0x1c, 0x28);
}

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

void makeSecondary(QWidget *widget)
{
    widget->setForegroundRole(QPalette::PlaceholderText);
}

void makeDestructive(QPushButton *button)
{
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, destructiveColor(palette));
    button->setPalette(palette);
}

} // namespace orvane::PageStyle
