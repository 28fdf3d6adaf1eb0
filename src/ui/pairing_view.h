#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace orvane {

class CompanionModel;

// Where the user types the PIN the glasses show, pairs and unpairs, and reads the privacy promise.
class PairingView : public QWidget
{
    Q_OBJECT

public:
    explicit PairingView(CompanionModel &model, QWidget *parent = nullptr);

private:
    void showPin();
    void showPairing();
    void showMessage();
    void pair();

    CompanionModel &model_;
    QLineEdit *pin_;
    QPushButton *pair_;
    QPushButton *unpair_;
    QLabel *message_;
};

} // namespace orvane
