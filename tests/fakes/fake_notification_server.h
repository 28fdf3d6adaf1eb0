#pragma once
#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <vector>

namespace orvane::test {

// A freedesktop notification server on its own connection to the session bus: it takes the
// well-known name, records every Notify call and answers with ids as a real server does (a
// fresh id, or the replaced one).
class FakeNotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call {
        uint replacesId = 0;
        QString summary;
        QString body;
        QVariantMap hints;
        uint answeredId = 0;
    };
    FakeNotificationServer() : connection_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "orvane-fake-notifications")) {}
    ~FakeNotificationServer() override;
    // Whether the name and the object were registered.
    bool start();
    const std::vector<Call> &calls() const { return calls_; }

public slots:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &hints, int expireTimeout);

private:
    QDBusConnection connection_;
    std::vector<Call> calls_;
    uint nextId_ = 1;
};

} // namespace orvane::test
