#include "ui/main_view.h"

#include "companion/companion_model.h"
#include "ui/debug_view.h"
#include "ui/icons.h"
#include "ui/pairing_view.h"
#include "ui/sharing_view.h"
#include "ui/status_view.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QScrollArea>
#include <QSplitter>
#include <QVBoxLayout>

namespace orvane {
namespace {

struct Row {
    const char *tag;
    const char *label;
    const char *themeIcon;
};
constexpr Row rows[]{
    {"status", "Status", "utilities-system-monitor"},
    {"pairing", "Pairing", "network-wireless"},
    {"sharing", "Sharing", "preferences-system-privacy"},
    {"debug", "Debug", "applications-engineering"},
};

constexpr int pageInset = 28;

} // namespace

MainView::MainView(CompanionModel &model, QWidget *parent)
    : QWidget(parent), model_(model), sidebar_(new QListWidget), detail_(new QScrollArea)
{
    setWindowTitle(QStringLiteral("Orvane"));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("dev.orvane.companion"), Icons::bundled("pairing")));
    setMinimumSize(720, 480);
    resize(880, 640);

    sidebar_->setAccessibleName(QStringLiteral("Pages"));
    sidebar_->setMinimumWidth(150);
    sidebar_->setIconSize(QSize(18, 18));
    sidebar_->setFrameShape(QFrame::NoFrame);
    sidebar_->setSpacing(2);
    for (const Row &row : rows) {
        auto *item = new QListWidgetItem(Icons::themed(row.themeIcon, row.tag), QString::fromLatin1(row.label), sidebar_);
        item->setData(Qt::UserRole, QString::fromLatin1(row.tag));
    }

    detail_->setWidgetResizable(true);
    // Pages wrap to the width they get; only a short window scrolls.
    detail_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    detail_->setFrameShape(QFrame::NoFrame);
    detail_->setMinimumSize(520, 430);

    auto *split = new QSplitter(this);
    split->setChildrenCollapsible(false);
    split->addWidget(sidebar_);
    split->addWidget(detail_);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({170, width() - 170});
    auto *whole = new QHBoxLayout(this);
    whole->setContentsMargins(0, 0, 0, 0);
    whole->addWidget(split);

    connect(sidebar_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *item) {
        if (item)
            select(item->data(Qt::UserRole).toString());
    });
    select(QStringLiteral("status"));
}

void MainView::select(const QString &tag)
{
    if (tag == selection_ && detail_->widget())
        return;
    selection_ = tag;
    // Pages keep no state: each selection makes its page anew from the model.
    QWidget *page = nullptr;
    int row = 0;
    if (tag == QLatin1String("pairing")) {
        page = new PairingView(model_);
        row = 1;
    } else if (tag == QLatin1String("sharing")) {
        page = new SharingView(model_);
        row = 2;
    } else if (tag == QLatin1String("debug")) {
        page = new DebugView(model_);
        row = 3;
    } else {
        page = new StatusView(model_);
    }
    auto *frame = new QWidget;
    auto *inset = new QVBoxLayout(frame);
    inset->setContentsMargins(pageInset, pageInset, pageInset, pageInset);
    inset->addWidget(page);
    detail_->setWidget(frame);
    detail_->setAccessibleName(QString::fromLatin1(rows[row].label));
    if (sidebar_->currentRow() != row) {
        const QSignalBlocker quiet(sidebar_);
        sidebar_->setCurrentRow(row);
    }
}

QWidget *MainView::page() const
{
    const QWidget *frame = detail_->widget();
    return frame ? frame->layout()->itemAt(0)->widget() : nullptr;
}

void MainView::showAndRaise()
{
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void MainView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (started_)
        return;
    started_ = true;
    // After the window has drawn; the model starts only once however often it is asked.
    QMetaObject::invokeMethod(this, [this] { model_.start(); }, Qt::QueuedConnection);
}

void MainView::closeEvent(QCloseEvent *event)
{
    if (hidesOnClose_) {
        event->ignore();
        hide();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace orvane
