#include "ui/status_view.h"

#include "companion/companion_model.h"
#include "ui/clamped_label.h"
#include "ui/flow_row.h"
#include "ui/icons.h"
#include "ui/local_time_text.h"
#include "ui/page_style.h"
#include "ui/state_pill.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace orvane {

StatusView::StatusView(CompanionModel &model, QWidget *parent)
    : QWidget(parent),
      model_(model),
      codex_(new StatePill(QStringLiteral("Codex"), model.codexConnected(), this)),
      relay_(new StatePill(QStringLiteral("Glasses relay"), model.relayConnected(), this)),
      paired_(new StatePill(QStringLiteral("Paired"), model.paired(), this)),
      threadTitle_(new ClampedLabel(2)),
      activity_(PageStyle::plainLabel({}, nullptr)),
      project_(new QWidget),
      projectName_(PageStyle::plainLabel({}, project_)),
      refresh_(new QPushButton(QStringLiteral("Refresh now"), this)),
      synced_(PageStyle::plainLabel({}, this)),
      error_(PageStyle::plainLabel({}, this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(22);

    auto *title = PageStyle::plainLabel(QStringLiteral("Orvane"), this);
    title->setFont(PageStyle::largeTitleFont(font()));
    column->addWidget(title);

    auto *pills = new FlowRow(10, this);
    for (auto *pill : {codex_, relay_, paired_})
        pills->add(pill);
    column->addWidget(pills);

    auto *current = new QGroupBox(QStringLiteral("Current thread"), this);
    auto *thread = new QVBoxLayout(current);
    thread->setContentsMargins(10, 10, 10, 10);
    thread->setSpacing(10);
    threadTitle_->setFont(PageStyle::titleThreeFont(font()));
    thread->addWidget(threadTitle_);
    PageStyle::makeSecondary(activity_);
    thread->addWidget(activity_);
    auto *projectRow = new QHBoxLayout(project_);
    projectRow->setContentsMargins(0, 0, 0, 0);
    auto *folder = new QLabel(project_);
    const int side = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    folder->setPixmap(Icons::themed("folder", "folder").pixmap(QSize(side, side), devicePixelRatioF()));
    projectRow->addWidget(folder);
    projectRow->addWidget(projectName_, 1);
    thread->addWidget(project_);
    column->addWidget(current);

    auto *actions = new QHBoxLayout;
    actions->addWidget(refresh_);
    actions->addStretch();
    PageStyle::makeSecondary(synced_);
    synced_->setWordWrap(false);
    actions->addWidget(synced_);
    column->addLayout(actions);

    QPalette warning = error_->palette();
    warning.setColor(QPalette::WindowText, PageStyle::warningColor(warning));
    error_->setPalette(warning);
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    error_->setFocusPolicy(Qt::StrongFocus);
    column->addWidget(error_);
    column->addStretch();

    // Each click starts its own refresh; the page never waits for one.
    connect(refresh_, &QPushButton::clicked, this, [this] { QCoro::connect(model_.refresh(), this, [] {}); });

    connect(&model_, &CompanionModel::codexConnectedChanged, this, &StatusView::showConnections);
    connect(&model_, &CompanionModel::relayConnectedChanged, this, &StatusView::showConnections);
    connect(&model_, &CompanionModel::pairedChanged, this, &StatusView::showConnections);
    connect(&model_, &CompanionModel::currentThreadChanged, this, &StatusView::showCurrentThread);
    connect(&model_, &CompanionModel::lastSyncChanged, this, &StatusView::showLastSync);
    connect(&model_, &CompanionModel::lastErrorChanged, this, &StatusView::showLastError);
    showCurrentThread();
    showLastSync();
    showLastError();
}

void StatusView::showConnections()
{
    codex_->setConnected(model_.codexConnected());
    relay_->setConnected(model_.relayConnected());
    paired_->setConnected(model_.paired());
}

void StatusView::showCurrentThread()
{
    const auto &thread = model_.currentThread();
    threadTitle_->setText(thread ? QString::fromStdString(thread->title) : QStringLiteral("No locally observed thread"));
    const bool active = thread && thread->activityText;
    activity_->setText(active ? QString::fromStdString(*thread->activityText) : QStringLiteral("Waiting for Codex\u2026"));
    const bool hasProject = thread && thread->projectName;
    projectName_->setText(hasProject ? QString::fromStdString(*thread->projectName) : QString());
    project_->setVisible(hasProject);
}

void StatusView::showLastSync()
{
    const auto &moment = model_.lastSync();
    synced_->setText(moment ? QStringLiteral("Synced ") + LocalTimeText::timeOfDay(*moment)
                            : QStringLiteral("Not synced yet"));
}

void StatusView::showLastError()
{
    const auto &text = model_.lastError();
    error_->setText(text ? QString::fromStdString(*text) : QString());
    error_->setAccessibleName(error_->text());
    error_->setVisible(text.has_value());
}

} // namespace orvane
