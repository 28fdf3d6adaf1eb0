#include "fake_notification_server.h"

namespace orvane::test {

FakeNotificationServer::~FakeNotificationServer()
{
    connection_.unregisterObject("/org/freedesktop/Notifications");
    connection_.unregisterService("org.freedesktop.Notifications");
    QDBusConnection::disconnectFromBus(connection_.name());
}

bool FakeNotificationServer::start()
{
    return connection_.isConnected()
        && connection_.registerObject("/org/freedesktop/Notifications", this, QDBusConnection::ExportAllSlots)
        && connection_.registerService("org.freedesktop.Notifications");
}

uint FakeNotificationServer::Notify(const QString &, uint replacesId, const QString &, const QString &summary,
                                    const QString &body, const QStringList &, const QVariantMap &hints, int)
{
    const uint id = replacesId != 0 ? replacesId : nextId_++;
    calls_.push_back({replacesId, summary, body, hints, id});
    return id;
}

} // namespace orvane::test
