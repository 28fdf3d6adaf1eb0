#include "ui/menu_content.h"

#include "companion/companion_model.h"
#include "ui/icons.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>

namespace orvane {
namespace {

// A menu line cannot wrap; longer activity texts are cut.
constexpr int widestActivity = 360;

} // namespace

MenuContent::MenuContent(CompanionModel &model, std::function<void()> openCompanion, QObject *parent)
    : QObject(parent), model_(model)
{
    // A line to read, not to click.
    activity_ = menu_.addAction(QString());
    activity_->setEnabled(false);
    menu_.addSeparator();
    // Each choice starts its own refresh; the menu never waits for one.
    connect(menu_.addAction(QStringLiteral("Refresh")), &QAction::triggered, this,
            [this] { QCoro::connect(model_.refresh(), this, [] {}); });
    connect(menu_.addAction(QStringLiteral("Open Companion")), &QAction::triggered, this, std::move(openCompanion));
    menu_.addSeparator();
    connect(menu_.addAction(QStringLiteral("Quit")), &QAction::triggered, qApp, &QCoreApplication::quit,
            Qt::QueuedConnection);

    tray_.setToolTip(QStringLiteral("Orvane"));
    tray_.setContextMenu(&menu_);
    // A left click drops the same menu down, as panel items do.
    connect(&tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            menu_.popup(QCursor::pos());
    });

    connect(&model_, &CompanionModel::currentThreadChanged, this, &MenuContent::showActivity);
    connect(&model_, &CompanionModel::relayConnectedChanged, this, &MenuContent::showConnection);
    showActivity();
    showConnection();
}

QIcon MenuContent::connectedIcon()
{
    return Icons::bundled("glasses");
}

QIcon MenuContent::disconnectedIcon()
{
    return Icons::bundled("glasses-off");
}

void MenuContent::showActivity()
{
    const auto &thread = model_.currentThread();
    QString text = thread && thread->activityText ? QString::fromStdString(*thread->activityText)
                                                  : QStringLiteral("Waiting for Codex");
    // One line, and "&" is no shortcut marker.
    text = menu_.fontMetrics().elidedText(text.simplified(), Qt::ElideRight, widestActivity);
    activity_->setText(text.replace(QLatin1Char('&'), QStringLiteral("&&")));
}

void MenuContent::showConnection()
{
    tray_.setIcon(model_.relayConnected() ? connectedIcon() : disconnectedIcon());
}

} // namespace orvane
