// KeychainStore against a real gnome-keyring Secret Service on a private session bus.
#include "relay/keychain_store.h"

#include <gtest/gtest.h>

#include <QProcess>

namespace orvane {
namespace {

TEST(KeychainStore, SavingReplacesDeletingIsQuietAndAccountsStayApart)
{
    // What another tool finds by the attributes alone.
    const auto secretTool = [](QStringList command) {
        QProcess tool;
        tool.start("secret-tool", command << "service" << "dev.orvane.companion" << "account" << "relay-publisher");
        tool.waitForFinished(20'000);
        return tool.readAllStandardOutput().toStdString();
    };
    KeychainStore::remove("relay-publisher");
    EXPECT_FALSE(KeychainStore::load("relay-publisher"));
    KeychainStore::save("first", "relay-publisher");
    KeychainStore::save("other", "another-account");
    const std::string bytes("sec\0ond\xFF", 8); // kept as given
    KeychainStore::save(bytes, "relay-publisher");
    EXPECT_EQ(KeychainStore::load("relay-publisher"), bytes);
    EXPECT_EQ(secretTool({"lookup"}), bytes);
    EXPECT_EQ(QByteArray::fromStdString(secretTool({"search", "--all"})).count("[/"), 1) << "one item";

    KeychainStore::remove("relay-publisher");
    EXPECT_FALSE(KeychainStore::load("relay-publisher"));
    EXPECT_EQ(secretTool({"search", "--all"}), "");
    EXPECT_EQ(KeychainStore::load("another-account"), "other");
}

} // namespace
} // namespace orvane
