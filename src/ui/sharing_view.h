#pragma once

#include "model/records.h"

#include <QWidget>

#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;

namespace orvane {

class CompanionModel;

// What leaves the machine, how much transcript, and the two desktop choices. Every change is
// one assignment of the model's settings, which stores and applies it at once.
class SharingView : public QWidget
{
    Q_OBJECT

public:
    explicit SharingView(CompanionModel &model, QWidget *parent = nullptr);

private:
    struct Switch {
        QCheckBox *box;
        std::function<bool(const SharingSettings &)> read;
    };

    void addSwitch(const QString &label, std::function<bool(const SharingSettings &)> read,
                   std::function<void(bool)> write, QWidget *section);
    void change(const std::function<void(SharingSettings &)> &edit);
    void showSettings();

    CompanionModel &model_;
    std::vector<Switch> switches_;
    QComboBox *level_;
};

} // namespace orvane
