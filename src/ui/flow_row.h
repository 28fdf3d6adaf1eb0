#pragma once

#include <QWidget>

namespace orvane {

// Widgets side by side, `spacing` apart and centred on their line, moving to a new line where
// the width runs out, so a narrow window never cuts one off.
class FlowRow : public QWidget
{
    Q_OBJECT

public:
    explicit FlowRow(int spacing, QWidget *parent = nullptr);

    void add(QWidget *widget);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    // A resize, or a widget whose size changed (a pill's text), lays the row out again.
    bool event(QEvent *event) override;

private:
    // Places the widgets within `width` when `place` is true; returns the height they take.
    int arrange(int width, bool place) const;

    int spacing_;
    QList<QWidget *> widgets_;
};

} // namespace orvane
