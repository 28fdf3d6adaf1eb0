#include "ui/clamped_label.h"

#include <QPainter>
#include <QTextLayout>

namespace orvane {

ClampedLabel::ClampedLabel(int maxLines, QWidget *parent) : QWidget(parent), maxLines_(maxLines)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void ClampedLabel::setText(const QString &text)
{
    if (text == text_)
        return;
    text_ = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

QStringList ClampedLabel::linesFor(int width) const
{
    QStringList lines;
    if (width <= 0 || text_.isEmpty())
        return lines;
    QTextLayout layout(text_, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() + 1 == maxLines_ && line.textStart() + line.textLength() < text_.size()) {
            QString rest = text_.mid(line.textStart());
            rest.replace(QLatin1Char('\n'), QLatin1Char(' '));
            lines.append(fontMetrics().elidedText(rest, Qt::ElideRight, width));
            break;
        }
        lines.append(text_.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return lines;
}

int ClampedLabel::heightForWidth(int width) const
{
    const auto count = std::max<qsizetype>(1, linesFor(width).size());
    return int(count) * fontMetrics().lineSpacing();
}

QSize ClampedLabel::sizeHint() const
{
    const int wide = std::min(fontMetrics().horizontalAdvance(text_), 480);
    return {wide, heightForWidth(std::max(wide, 1))};
}

QSize ClampedLabel::minimumSizeHint() const
{
    return {fontMetrics().averageCharWidth() * 8, fontMetrics().lineSpacing()};
}

void ClampedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const int spacing = fontMetrics().lineSpacing();
    int y = fontMetrics().ascent();
    for (const QString &line : linesFor(width())) {
        painter.drawText(0, y, line);
        y += spacing;
    }
}

} // namespace orvane
