// The private credentials file: permissions, atomic replacement, several accounts, and the
// chooser that sends the calls there only when the user asked for it.
#include "relay/credential_store_choice.h"
#include "relay/file_credential_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <stdlib.h>
#include <sys/stat.h>

namespace orvane {
namespace {

const std::string account = "relay-publisher";

mode_t modeOf(const QString &path)
{
    struct stat info {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info.st_mode & 07777;
}

ino_t inodeOf(const QString &path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_ino;
}

class FileCredentialStoreTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(config_.isValid());
        setenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()).constData(), 1);
        previousMask_ = ::umask(022);
    }
    void TearDown() override { ::umask(previousMask_); }

    QString folder() const { return config_.filePath(QStringLiteral("orvane")); }

    QTemporaryDir config_;
    mode_t previousMask_ = 0;
};

TEST_F(FileCredentialStoreTest, KeepsTheFilePrivateAndReplacesItWhole)
{
    EXPECT_EQ(FileCredentialStore::path(), folder() + QStringLiteral("/credentials.json"));
    EXPECT_FALSE(FileCredentialStore::load(account)) << "no file yet";
    FileCredentialStore::remove(account);

    // A folder made earlier with the usual permissions, and a file someone widened.
    ASSERT_TRUE(QDir().mkpath(folder()));
    ::chmod(QFile::encodeName(folder()).constData(), 0755);
    FileCredentialStore::save(R"({"channelId":"first"})", account);
    ::chmod(QFile::encodeName(FileCredentialStore::path()).constData(), 0644);
    const ino_t first = inodeOf(FileCredentialStore::path());

    FileCredentialStore::save(R"({"channelId":"second"})", account);
    EXPECT_EQ(FileCredentialStore::load(account), R"({"channelId":"second"})");
    EXPECT_EQ(modeOf(folder()), 0700u);
    EXPECT_EQ(modeOf(FileCredentialStore::path()), 0600u);
    EXPECT_NE(inodeOf(FileCredentialStore::path()), first) << "written beside and renamed over, never in place";
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("credentials.json")})
        << "no temporary file left behind";
}

TEST_F(FileCredentialStoreTest, KeepsAccountsApartAndBytesAsGiven)
{
    const std::string bytes("\x00\x01\xff\xfe\n\"\\ ok", 11);
    FileCredentialStore::save(bytes, "other");
    FileCredentialStore::save("data", account);
    EXPECT_EQ(FileCredentialStore::load("other"), bytes);
    EXPECT_EQ(FileCredentialStore::load(account), "data");

    FileCredentialStore::remove(account);
    EXPECT_FALSE(FileCredentialStore::load(account));
    EXPECT_EQ(FileCredentialStore::load("other"), bytes);
    FileCredentialStore::remove("other");
    EXPECT_FALSE(QFile::exists(FileCredentialStore::path())) << "an empty store leaves no file";
}

TEST_F(FileCredentialStoreTest, UnreadableFilesLoadNothingAndUnwritableOnesSaySo)
{
    ASSERT_TRUE(QDir().mkpath(folder()));
    for (const QByteArray &content : {QByteArray("not json"), QByteArray("[1,2]"), QByteArray(R"({"relay-publisher":7})")}) {
        QFile file(FileCredentialStore::path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        EXPECT_FALSE(FileCredentialStore::load(account)) << content.toStdString();
    }

    // A plain file where the folder belongs: neither root nor anyone can write beneath it.
    ASSERT_TRUE(QDir(folder()).removeRecursively());
    QFile blocker(folder());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    try {
        FileCredentialStore::save("data", account);
        ADD_FAILURE() << "saved beneath a plain file";
    } catch (const CredentialStoreError &error) {
        EXPECT_EQ(std::string(error.what()), "Unable to keep the pairing in " + FileCredentialStore::path().toStdString() +
                                                 ": the folder " + folder().toStdString() + " cannot be created.");
    }
    FileCredentialStore::remove(account);
}

TEST_F(FileCredentialStoreTest, TheChooserUsesTheFileOnlyWhenAskedTo)
{
    for (const char *choice : {"file", "secret-service", "FILE", ""}) {
        setenv("ORVANE_CREDENTIAL_STORE", choice, 1);
        const bool file = std::string_view(choice) == "file";
        EXPECT_EQ(CredentialStoreChoice::usesFile(), file) << choice;
        if (!file)
            continue;
        CredentialStoreChoice::save("data", account);
        EXPECT_EQ(FileCredentialStore::load(account), "data");
        EXPECT_EQ(CredentialStoreChoice::load(account), "data");
        CredentialStoreChoice::remove(account);
        EXPECT_FALSE(QFile::exists(FileCredentialStore::path()));
    }
    unsetenv("ORVANE_CREDENTIAL_STORE");
    EXPECT_FALSE(CredentialStoreChoice::usesFile());
}

} // namespace
} // namespace orvane
