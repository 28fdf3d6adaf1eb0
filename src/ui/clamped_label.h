#pragma once

#include <QWidget>

namespace orvane {

// Plain text wrapped to the widget's width and cut to at most `maxLines` lines, the last one
// ending in an ellipsis when the text goes on.
class ClampedLabel : public QWidget
{
    Q_OBJECT

public:
    ClampedLabel(int maxLines, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return text_; }
    // The lines as drawn at the current width.
    QStringList shownLines() const { return linesFor(width()); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QStringList linesFor(int width) const;

    int maxLines_;
    QString text_;
};

} // namespace orvane
