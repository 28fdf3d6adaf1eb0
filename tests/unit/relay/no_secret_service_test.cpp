// The credential stores on a session bus where no Secret Service exists or can be started (a
// bus daemon whose configuration names no service directory, and no display to autolaunch
// one), and the private file that takes its place when the user asks for it.
#include "relay/credential_store_choice.h"
#include "relay/file_credential_store.h"
#include "relay/keychain_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <stdlib.h>
#include <sys/stat.h>

namespace orvane {
namespace {

struct stat statOf(const QString &path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info;
}

class NoSecretService : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QFile config(directory->filePath("bus.conf"));
        config.open(QIODevice::WriteOnly);
        config.write("<busconfig><type>session</type><listen>unix:dir=" + directory->path().toUtf8() +
                     "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                     "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        daemon->start("dbus-daemon", {"--nofork", "--print-address", "--config-file=" + config.fileName()});
        ASSERT_TRUE(daemon->waitForReadyRead(10'000)) << "dbus-daemon did not start";
        // Before the process's first D-Bus call, which keeps its session bus for good.
        setenv("DBUS_SESSION_BUS_ADDRESS", daemon->readLine().trimmed().constData(), 1);
        unsetenv("DISPLAY");
    }
    static void TearDownTestSuite()
    {
        daemon->terminate();
        daemon->waitForFinished(5'000);
        delete daemon;
        delete directory;
    }
    void SetUp() override { setenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()).constData(), 1); }
    void TearDown() override { unsetenv(CredentialStoreChoice::environmentVariable.data()); }

    static inline QTemporaryDir *directory = new QTemporaryDir;
    static inline QProcess *daemon = new QProcess;
    QTemporaryDir config;
    const QString folder = config.filePath("orvane");
};

TEST_F(NoSecretService, SavingSaysWhatFailedAndHowToChooseTheFile)
{
    for (const char *choice : {"", "FILE"}) {
        setenv(CredentialStoreChoice::environmentVariable.data(), choice, 1);
        try {
            CredentialStoreChoice::save("data", "relay-publisher");
            ADD_FAILURE() << "saved without a Secret Service";
        } catch (const CredentialStoreError &error) {
            EXPECT_EQ(std::string(error.what()), "Unable to keep the pairing in the system's credential store: no Secret "
                                                 "Service is running (for example gnome-keyring or KeePassXC). " +
                                                     std::string(CredentialStoreChoice::secretServiceHint));
        }
        EXPECT_FALSE(CredentialStoreChoice::load("relay-publisher"));
        CredentialStoreChoice::remove("relay-publisher");
    }
    EXPECT_FALSE(QFile::exists(FileCredentialStore::path())) << "never silently replaced by the file";
}

TEST_F(NoSecretService, TheFileIsPrivateReplacedWholeAndGoneWhenEmpty)
{
    setenv(CredentialStoreChoice::environmentVariable.data(), "file", 1);
    EXPECT_EQ(FileCredentialStore::path(), folder + "/credentials.json");
    EXPECT_FALSE(CredentialStoreChoice::load("relay-publisher")) << "no file yet";
    CredentialStoreChoice::remove("relay-publisher");

    // A folder made earlier with the usual permissions, and a file someone widened.
    ASSERT_TRUE(QDir().mkpath(folder));
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    CredentialStoreChoice::save("first", "relay-publisher");
    ::chmod(QFile::encodeName(FileCredentialStore::path()).constData(), 0644);
    const ino_t first = statOf(FileCredentialStore::path()).st_ino;
    const std::string bytes("\x00\x01\xff\n\"\\", 6);
    CredentialStoreChoice::save(bytes, "relay-publisher");
    EXPECT_NE(statOf(FileCredentialStore::path()).st_ino, first) << "written beside and renamed over, never in place";
    CredentialStoreChoice::save("other", "another-account");
    EXPECT_EQ(CredentialStoreChoice::load("relay-publisher"), bytes);
    EXPECT_EQ(statOf(folder).st_mode & 0777, 0700u);
    EXPECT_EQ(statOf(FileCredentialStore::path()).st_mode & 0777, 0600u);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"credentials.json"}) << "no temporary file left";

    CredentialStoreChoice::remove("relay-publisher");
    EXPECT_EQ(CredentialStoreChoice::load("another-account"), "other");
    CredentialStoreChoice::remove("another-account");
    EXPECT_FALSE(QFile::exists(FileCredentialStore::path())) << "an empty store leaves no file";
}

TEST_F(NoSecretService, AnUnreadableFileLoadsNothingAndAnUnwritableOneSaysSo)
{
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QByteArray &content : {QByteArray("not json"), QByteArray(R"({"relay-publisher":7})")}) {
        QFile file(FileCredentialStore::path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        EXPECT_FALSE(FileCredentialStore::load("relay-publisher")) << content.toStdString();
    }
    // A plain file where the folder belongs: nobody, not even root, can write beneath it.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    QFile(folder).open(QIODevice::WriteOnly);
    try {
        FileCredentialStore::save("data", "relay-publisher");
        ADD_FAILURE() << "saved beneath a plain file";
    } catch (const CredentialStoreError &error) {
        EXPECT_EQ(error.what(), "Unable to keep the pairing in " + FileCredentialStore::path().toStdString() + ": the folder " +
                                    folder.toStdString() + " cannot be created.");
    }
}

} // namespace
} // namespace orvane
