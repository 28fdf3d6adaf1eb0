#include "companion/desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace orvane {
namespace {

constexpr int replyTimeoutMs = 5000;
constexpr int serverDefaultExpiry = -1;

} // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject *parent)
    : QObject(parent), bus_(std::move(bus))
{
}

void DesktopNotifier::post(const NotificationPolicy::Notification &notification)
{
    const auto known = serverIds_.find(notification.identifier);
    const std::uint32_t replacesId = known == serverIds_.end() ? 0 : known->second;

    auto message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    message << QStringLiteral("Orvane Companion") << replacesId << QString()
            << QString::fromStdString(notification.title) << QString::fromStdString(notification.body)
            << QStringList()
            << QVariantMap{{QStringLiteral("sound-name"), QStringLiteral("message-new-instant")}}
            << serverDefaultExpiry;

    // Parented to the notifier, so a reply that comes after it is gone finds no one.
    auto *watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, replyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, identifier = notification.identifier](QDBusPendingCallWatcher *finished) {
                const QDBusPendingReply<std::uint32_t> reply = *finished;
                if (reply.isValid())
                    serverIds_[identifier] = reply.value();
                finished->deleteLater();
            });
}

} // namespace orvane
