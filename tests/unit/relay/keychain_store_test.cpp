// KeychainStore against a real gnome-keyring Secret Service on a private session bus.
#include "relay/keychain_store.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <algorithm>

namespace orvane {
namespace {

const std::string account = "relay-publisher";

QByteArray secretTool(const QStringList &arguments, const QByteArray &input = {})
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), arguments);
    tool.write(input);
    tool.closeWriteChannel();
    tool.waitForFinished(20'000);
    return tool.readAllStandardOutput();
}

const QStringList attributes = {"service", "dev.orvane.companion", "account", "relay-publisher"};

// secret-tool prints one "[item path]" line per item found.
int itemCount()
{
    const QList<QByteArray> lines = secretTool(QStringList{"search", "--all"} + attributes).split('\n');
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const QByteArray &line) { return line.startsWith('['); }));
}

class KeychainStoreTest : public testing::Test {
protected:
    void TearDown() override { KeychainStore::remove(account); }
};

TEST_F(KeychainStoreTest, SavingTwiceLeavesOneItemWithTheSecondData)
{
    KeychainStore::save(R"({"channelId":"first"})", account);
    KeychainStore::save(R"({"channelId":"second"})", account);
    EXPECT_EQ(KeychainStore::load(account), R"({"channelId":"second"})");
    EXPECT_EQ(itemCount(), 1);
    // Found by its attributes alone, as other tools look it up.
    EXPECT_EQ(secretTool(QStringList{"lookup"} + attributes), R"({"channelId":"second"})");
}

TEST_F(KeychainStoreTest, DeletingRemovesTheItemAndAMissingItemIsQuiet)
{
    KeychainStore::remove(account);
    EXPECT_FALSE(KeychainStore::load(account));
    KeychainStore::save("data", account);
    KeychainStore::remove(account);
    EXPECT_FALSE(KeychainStore::load(account));
    EXPECT_EQ(itemCount(), 0);
    KeychainStore::remove(account);
}

TEST_F(KeychainStoreTest, KeepsBytesAsGivenAndAccountsApart)
{
    const std::string bytes("a\0b\xFF\n", 5);
    KeychainStore::save(bytes, account);
    KeychainStore::save("other", "another-account");
    EXPECT_EQ(KeychainStore::load(account), bytes);
    EXPECT_EQ(KeychainStore::load("another-account"), "other");
    KeychainStore::remove("another-account");
    EXPECT_EQ(KeychainStore::load(account), bytes);
}

TEST_F(KeychainStoreTest, FindsAnItemAnotherToolStored)
{
    secretTool(QStringList{"store", "--label=by hand"} + attributes, "stored by hand");
    EXPECT_EQ(KeychainStore::load(account), "stored by hand");
}

} // namespace
} // namespace orvane
