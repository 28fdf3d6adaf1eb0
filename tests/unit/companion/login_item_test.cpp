#include "companion/login_item.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace orvane {
namespace {

class LoginItemTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        installed = root.filePath("prefix/bin/orvane");
        ASSERT_TRUE(QDir().mkpath(root.filePath("prefix/bin")));
        QFile binary(installed);
        ASSERT_TRUE(binary.open(QIODevice::WriteOnly));
        binary.close();
        autostart = root.filePath("config/autostart");
    }

    QByteArray entry() const
    {
        QFile file(LoginItem(autostart, installed, installed).entryPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir root;
    QString installed;
    QString autostart;
};

TEST_F(LoginItemTest, OnAndOffForTheInstalledExecutable)
{
    const LoginItem item(autostart, installed, installed);
    EXPECT_EQ(item.entryPath(), autostart + "/dev.orvane.companion.desktop");
    item.apply(true);
    const auto written = entry();
    EXPECT_TRUE(written.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(written.contains("\nType=Application\n"));
    EXPECT_TRUE(written.contains("\nExec=\"" + installed.toUtf8() + "\"\n"));
    item.apply(true); // again: still there, written afresh
    EXPECT_EQ(entry(), written);
    item.apply(false);
    EXPECT_FALSE(QFile::exists(item.entryPath()));
    item.apply(false); // nothing left to remove is no failure
}

TEST_F(LoginItemTest, ReachedThroughALinkCountsAsInstalled)
{
    const QString link = root.filePath("orvane-link");
    ASSERT_TRUE(QFile::link(installed, link));
    LoginItem(autostart, installed, link).apply(true);
    EXPECT_FALSE(entry().isEmpty());
}

TEST_F(LoginItemTest, OtherExecutablesChangeNothing)
{
    const QString buildCopy = root.filePath("build/orvane");
    for (bool on : {true, false}) {
        LoginItem(autostart, installed, buildCopy).apply(on);
        EXPECT_FALSE(QFile::exists(autostart)) << on;
    }
    // Nor is an entry already there removed by a build copy.
    LoginItem(autostart, installed, installed).apply(true);
    LoginItem(autostart, installed, buildCopy).apply(false);
    EXPECT_FALSE(entry().isEmpty());
    // A missing installed file matches nothing, not even a missing running one.
    LoginItem(autostart, root.filePath("none"), root.filePath("none")).apply(false);
    EXPECT_FALSE(entry().isEmpty());
}

TEST_F(LoginItemTest, UnwritableFolderIsReported)
{
    // A file where the folder should be: refused whoever runs the test.
    const QString blocked = root.filePath("blocked");
    QFile file(blocked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const LoginItem item(blocked + "/autostart", installed, installed);
    try {
        item.apply(true);
        FAIL() << "no error";
    } catch (const LoginItem::Error &error) {
        EXPECT_EQ(std::string(error.what()),
                  "Start at login could not be changed: The folder " + blocked.toStdString()
                      + "/autostart cannot be created.");
    }
    const LoginItem entryIsAFolder(autostart, installed, installed);
    ASSERT_TRUE(QDir().mkpath(entryIsAFolder.entryPath() + "/inside"));
    for (bool on : {true, false}) {
        try {
            entryIsAFolder.apply(on);
            FAIL() << "no error " << on;
        } catch (const LoginItem::Error &error) {
            const std::string text = error.what();
            EXPECT_TRUE(text.starts_with("Start at login could not be changed: ")) << text;
            EXPECT_GT(text.size(), std::string("Start at login could not be changed: ").size()) << text;
        }
    }
}

TEST(LoginItemEntry, QuotesTheExecutable)
{
    const auto entry = LoginItem::entryFor(R"(/opt/my apps/$HOME/100%/a"b\c)");
    EXPECT_TRUE(entry.contains(R"(Exec="/opt/my apps/\\$HOME/100%%/a\\"b\\\\c")" "\n")) << entry.constData();
}

TEST(LoginItemEntry, DefaultsToTheUserAutostartFolder)
{
    // The isolated session sets XDG_CONFIG_HOME.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    ASSERT_FALSE(config.isEmpty());
    EXPECT_EQ(LoginItem().entryPath(), config + "/autostart/dev.orvane.companion.desktop");
}

} // namespace
} // namespace orvane
