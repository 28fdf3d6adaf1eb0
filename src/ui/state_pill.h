#pragma once

#include <QWidget>

class QLabel;

namespace orvane {

// One connected/disconnected indicator: an icon and "<label> connected" in a capsule, green
// while connected and grey otherwise.
class StatePill : public QWidget
{
    Q_OBJECT

public:
    StatePill(QString label, bool connected, QWidget *parent = nullptr);

    void setConnected(bool connected);
    bool connected() const { return connected_; }
    QString text() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString label_;
    bool connected_ = false;
    QLabel *icon_;
    QLabel *text_;
};

} // namespace orvane
