#pragma once

#include "companion/notification_policy.h"

#include <QDBusConnection>
#include <QObject>

#include <cstdint>
#include <map>
#include <string>

namespace orvane {

// Desktop notifications through the freedesktop notification server on the session bus.
// A notification with an identifier already shown replaces that one. Posting never waits for
// the server; when none answers, nothing is shown and nothing is reported.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                             QObject *parent = nullptr);

    void post(const NotificationPolicy::Notification &notification);

private:
    QDBusConnection bus_;
    // The server's id for each identifier, passed back to replace that notification.
    std::map<std::string, std::uint32_t> serverIds_;
};

} // namespace orvane
