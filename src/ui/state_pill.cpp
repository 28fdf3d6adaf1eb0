#include "ui/state_pill.h"

#include "ui/icons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStyle>

namespace orvane {

StatePill::StatePill(QString label, bool connected, QWidget *parent)
    : QWidget(parent), label_(std::move(label)), icon_(new QLabel(this)), text_(new QLabel(this))
{
    text_->setTextFormat(Qt::PlainText);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(12, 7, 12, 7);
    row->setSpacing(6);
    row->addWidget(icon_);
    row->addWidget(text_);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connected_ = !connected;
    setConnected(connected);
}

QString StatePill::text() const
{
    return label_ + (connected_ ? QStringLiteral(" connected") : QStringLiteral(" disconnected"));
}

void StatePill::setConnected(bool connected)
{
    if (connected == connected_)
        return;
    connected_ = connected;
    const int side = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    icon_->setPixmap(Icons::bundled(connected ? "connected" : "disconnected").pixmap(QSize(side, side), devicePixelRatioF()));
    text_->setText(text());
    setAccessibleName(text());
    update();
}

void StatePill::paintEvent(QPaintEvent *)
{
    QColor fill = connected_ ? QColor(0x34, 0xc7, 0x59) : palette().color(QPalette::WindowText);
    fill.setAlphaF(connected_ ? 0.14f : 0.12f);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
}

} // namespace orvane
