#include "fake_notification_server.h"

namespace orvane::test {

namespace {
const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
const QString connectionName = QStringLiteral("orvane-fake-notification-server");
} // namespace

FakeNotificationServer::FakeNotificationServer()
    : connection_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName))
{
}

FakeNotificationServer::~FakeNotificationServer()
{
    connection_.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    connection_.unregisterService(serviceName);
    QDBusConnection::disconnectFromBus(connectionName);
}

bool FakeNotificationServer::start()
{
    return connection_.isConnected()
        && connection_.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                      QDBusConnection::ExportAllSlots)
        && connection_.registerService(serviceName);
}

uint FakeNotificationServer::Notify(const QString &appName, uint replacesId, const QString &,
                                    const QString &summary, const QString &body,
                                    const QStringList &, const QVariantMap &hints, int)
{
    const uint id = replacesId != 0 ? replacesId : nextId_++;
    calls_.push_back({appName, replacesId, summary, body, hints, id});
    emit received();
    return id;
}

QStringList FakeNotificationServer::GetCapabilities()
{
    return {QStringLiteral("body"), QStringLiteral("sound")};
}

} // namespace orvane::test
