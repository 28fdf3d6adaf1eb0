// KeychainStore on a session bus where no Secret Service exists or can be started: a bus
// daemon whose configuration names no service directory, and no display to autolaunch one.
#include "relay/keychain_store.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <stdlib.h>

namespace orvane {
namespace {

class BareSessionBus : public testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(directory_.isValid());
        const QString config = directory_.filePath(QStringLiteral("session.conf"));
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral(
                       "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                       " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                       "<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>\n"
                       "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                       "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>\n"
                       "</busconfig>\n")
                       .arg(directory_.path())
                       .toUtf8());
        file.close();
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--nofork"), QStringLiteral("--print-address"), QStringLiteral("--config-file=") + config});
        ASSERT_TRUE(daemon_.waitForReadyRead(10'000)) << "dbus-daemon did not start";
        const QByteArray address = daemon_.readLine().trimmed();
        ASSERT_FALSE(address.isEmpty());
        // Before the first D-Bus call of the process, which keeps its session bus for good.
        setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1);
        unsetenv("DISPLAY");
    }

    void TearDown() override
    {
        daemon_.terminate();
        daemon_.waitForFinished(5'000);
    }

private:
    QTemporaryDir directory_;
    QProcess daemon_;
};

TEST(KeychainStoreWithoutService, SaveSaysSoAndLoadAndDeleteStayQuiet)
{
    try {
        KeychainStore::save("data", "relay-publisher");
        ADD_FAILURE() << "saved without a Secret Service";
    } catch (const CredentialStoreError &error) {
        EXPECT_STREQ(error.what(), "Unable to keep the pairing in the system's credential store: "
                                   "no Secret Service is running (for example gnome-keyring or KeePassXC).");
    }
    EXPECT_FALSE(KeychainStore::load("relay-publisher"));
    KeychainStore::remove("relay-publisher");
}

testing::Environment *const bareBus = testing::AddGlobalTestEnvironment(new BareSessionBus);

} // namespace
} // namespace orvane
