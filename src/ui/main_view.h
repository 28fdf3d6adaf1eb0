#pragma once

#include <QWidget>

class QListWidget;
class QScrollArea;

namespace orvane {

class CompanionModel;

// The window "Orvane": a sidebar of four pages beside the chosen page. Showing it the first time
// starts the companion.
class MainView : public QWidget
{
    Q_OBJECT

public:
    explicit MainView(CompanionModel &model, QWidget *parent = nullptr);

    // "status", "pairing", "sharing" or "debug"; anything else shows the status page.
    void select(const QString &tag);
    const QString &selection() const { return selection_; }
    QWidget *page() const;

    // While a tray item is there to reopen it, closing only hides the window.
    void setHidesOnClose(bool hides) { hidesOnClose_ = hides; }
    void showAndRaise();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    CompanionModel &model_;
    QString selection_;
    QListWidget *sidebar_;
    QScrollArea *detail_;
    bool started_ = false;
    bool hidesOnClose_ = false;
};

} // namespace orvane
