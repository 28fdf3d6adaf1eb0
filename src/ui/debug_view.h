#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace orvane {

class CompanionModel;

// The debug report as plain text, with buttons to copy it and to clear local data.
class DebugView : public QWidget
{
    Q_OBJECT

public:
    explicit DebugView(CompanionModel &model, QWidget *parent = nullptr);

private:
    void showReport();
    void copyReport();

    CompanionModel &model_;
    QPlainTextEdit *report_;
};

} // namespace orvane
