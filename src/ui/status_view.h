#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace orvane {

class ClampedLabel;
class CompanionModel;
class StatePill;

// The window's first page: whether Codex, the relay and the pairing are up, what the current
// thread does, when the last refresh succeeded, and the last error.
class StatusView : public QWidget
{
    Q_OBJECT

public:
    explicit StatusView(CompanionModel &model, QWidget *parent = nullptr);

private:
    void showConnections();
    void showCurrentThread();
    void showLastSync();
    void showLastError();

    CompanionModel &model_;
    StatePill *codex_;
    StatePill *relay_;
    StatePill *paired_;
    ClampedLabel *threadTitle_;
    QLabel *activity_;
    QWidget *project_;
    QLabel *projectName_;
    QPushButton *refresh_;
    QLabel *synced_;
    QLabel *error_;
};

} // namespace orvane
