#include "ui/debug_view.h"

#include "companion/companion_model.h"
#include "ui/page_style.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvane {
namespace {

// The report's backdrop: a rounded rectangle in a faint fill of the text colour.
class ReportBackdrop : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QColor fill = palette().color(QPalette::WindowText);
        fill.setAlphaF(0.06f);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()), 12, 12);
    }
};

// The desktop's fixed-width font; some platform themes answer with a proportional one.
QFont monospaced()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!QFontInfo(font).fixedPitch()) {
        font.setFamily(QStringLiteral("monospace"));
        font.setStyleHint(QFont::Monospace);
        font.setFixedPitch(true);
    }
    return font;
}

} // namespace

DebugView::DebugView(CompanionModel &model, QWidget *parent)
    : QWidget(parent), model_(model), report_(new QPlainTextEdit)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);

    auto *title = PageStyle::plainLabel(QStringLiteral("Debug"), this);
    title->setFont(PageStyle::largeTitleFont(font()));
    column->addWidget(title);

    auto *backdrop = new ReportBackdrop(this);
    auto *inset = new QVBoxLayout(backdrop);
    inset->setContentsMargins(8, 8, 8, 8);
    report_->setReadOnly(true);
    report_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    report_->setFont(monospaced());
    report_->setFrameShape(QFrame::NoFrame);
    report_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    report_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    report_->viewport()->setAutoFillBackground(false);
    report_->setAccessibleName(QStringLiteral("Debug report"));
    report_->setTabChangesFocus(true);
    inset->addWidget(report_);
    column->addWidget(backdrop, 1);

    auto *actions = new QHBoxLayout;
    auto *copy = new QPushButton(QStringLiteral("Copy report"), this);
    auto *clear = new QPushButton(QStringLiteral("Clear local data"), this);
    PageStyle::makeDestructive(clear);
    actions->addWidget(copy);
    actions->addWidget(clear);
    actions->addStretch();
    column->addLayout(actions);

    connect(copy, &QPushButton::clicked, this, &DebugView::copyReport);
    // No confirmation: clearing acts at once.
    connect(clear, &QPushButton::clicked, this, [this] { QCoro::connect(model_.clearLocalData(), this, [] {}); });

    // The report draws on every published field; each change makes it anew.
    for (auto changed : {&CompanionModel::codexConnectedChanged, &CompanionModel::relayConnectedChanged,
                         &CompanionModel::pairedChanged, &CompanionModel::currentThreadChanged,
                         &CompanionModel::threadsChanged, &CompanionModel::usageChanged, &CompanionModel::lastSyncChanged,
                         &CompanionModel::lastErrorChanged, &CompanionModel::reconnectCountChanged,
                         &CompanionModel::eventCountChanged, &CompanionModel::pairingPINChanged,
                         &CompanionModel::pairingMessageChanged, &CompanionModel::settingsChanged})
        connect(&model_, changed, this, &DebugView::showReport);
    showReport();
}

void DebugView::showReport()
{
    // Setting the same text again would drop the user's selection.
    const QString report = QString::fromStdString(model_.debugReport());
    if (report != report_->toPlainText())
        report_->setPlainText(report);
}

void DebugView::copyReport()
{
    QClipboard *clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setText(QString::fromStdString(model_.debugReport()));
}

} // namespace orvane
