// The credential store on a bus where no Secret Service exists or can be started (a bus daemon
// whose configuration names no service directory, and no display to autolaunch one), with the
// private file that takes its place when the user asks for it. The Secret Service itself is
// companion_local_test's and headless_instance_test's, through a real gnome-keyring.
#include "relay/credential_store_choice.h"
#include "relay/file_credential_store.h"

#include <process_harness.h>

#include <gmock/gmock.h>

#include <QDir>

#include <stdlib.h>
#include <sys/stat.h>

namespace orvane {
namespace {

using test::BareSessionBus;

struct stat statOf(const QString &path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info;
}

TEST(NoSecretService, SavingSaysWhatFailedUnlessThePrivateFileWasChosen)
{
    const BareSessionBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    setenv("DBUS_SESSION_BUS_ADDRESS", qPrintable(bus.address()), 1);
    unsetenv("DISPLAY");
    const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + "/orvane";

    setenv("ORVANE_CREDENTIAL_STORE", "FILE", 1); // only "file" chooses the file
    EXPECT_THAT([] { CredentialStoreChoice::save("data", "relay-publisher"); },
                testing::ThrowsMessage<CredentialStoreError>(
                    "Unable to keep the pairing in the system's credential store: no Secret Service is running (for example "
                    "gnome-keyring or KeePassXC). " + std::string(CredentialStoreChoice::secretServiceHint)));
    EXPECT_FALSE(CredentialStoreChoice::load("relay-publisher"));
    EXPECT_FALSE(QFile::exists(folder)) << "never silently replaced by the file";

    setenv("ORVANE_CREDENTIAL_STORE", "file", 1);
    // A folder made earlier with the usual permissions, and a file someone widened.
    ASSERT_TRUE(QDir().mkpath(folder));
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    CredentialStoreChoice::save("first", "relay-publisher");
    ::chmod(QFile::encodeName(FileCredentialStore::path()).constData(), 0644);
    const ino_t first = statOf(FileCredentialStore::path()).st_ino;
    const std::string bytes("\x00\x01\xff\n\"\\", 6);
    CredentialStoreChoice::save(bytes, "relay-publisher");
    EXPECT_NE(statOf(FileCredentialStore::path()).st_ino, first) << "written beside and renamed over, never in place";
    EXPECT_EQ(CredentialStoreChoice::load("relay-publisher"), bytes);
    EXPECT_EQ(statOf(folder).st_mode & 0777, 0700u);
    EXPECT_EQ(statOf(FileCredentialStore::path()).st_mode & 0777, 0600u);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"credentials.json"}) << "no temporary file left";

    CredentialStoreChoice::remove("relay-publisher");
    EXPECT_FALSE(QFile::exists(FileCredentialStore::path())) << "an empty store leaves no file";
}

} // namespace
} // namespace orvane
