#include "ui/flow_row.h"

#include <QEvent>

#include <algorithm>

namespace orvane {

FlowRow::FlowRow(int spacing, QWidget *parent) : QWidget(parent), spacing_(spacing)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void FlowRow::add(QWidget *widget)
{
    widget->setParent(this);
    widgets_.append(widget);
    updateGeometry();
}

int FlowRow::arrange(int width, bool place) const
{
    int x = 0;
    int top = 0;
    int lineHeight = 0;
    QList<QWidget *> line;
    const auto finishLine = [&] {
        if (place)
            for (QWidget *widget : line)
                widget->move(widget->x(), top + (lineHeight - widget->sizeHint().height()) / 2);
        top += lineHeight + spacing_;
        line.clear();
        x = 0;
        lineHeight = 0;
    };
    for (QWidget *widget : widgets_) {
        const QSize size = widget->sizeHint();
        if (x > 0 && x + size.width() > width)
            finishLine();
        if (place)
            widget->setGeometry(x, 0, size.width(), size.height());
        line.append(widget);
        x += size.width() + spacing_;
        lineHeight = std::max(lineHeight, size.height());
    }
    if (!line.isEmpty())
        finishLine();
    return std::max(0, top - spacing_);
}

int FlowRow::heightForWidth(int width) const
{
    return arrange(width, false);
}

QSize FlowRow::sizeHint() const
{
    int width = 0;
    for (const QWidget *widget : widgets_)
        width += widget->sizeHint().width() + (width > 0 ? spacing_ : 0);
    return {width, arrange(width, false)};
}

QSize FlowRow::minimumSizeHint() const
{
    int widest = 0;
    for (const QWidget *widget : widgets_)
        widest = std::max(widest, widget->sizeHint().width());
    return {widest, arrange(widest, false)};
}

bool FlowRow::event(QEvent *event)
{
    if (event->type() == QEvent::LayoutRequest)
        updateGeometry();
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize)
        arrange(width(), true);
    return QWidget::event(event);
}

} // namespace orvane
