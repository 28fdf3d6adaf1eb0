#include "companion/desktop_notifier.h"
#include "companion/login_item.h"
#include "fake_notification_server.h"
#include <waits.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace orvane {
namespace {

// The bus answers one connection in order: once this round trip is back, so is every earlier call.
void roundTrip()
{
    const auto ping = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId");
    ASSERT_EQ(QDBusConnection::sessionBus().call(ping).type(), QDBusMessage::ReplyMessage);
    QCoreApplication::processEvents();
}

TEST(DesktopNotifier, ShowsNewlyReachedStatesReplacingByIdentifierAndNothingWithoutAServer)
{
    auto notifier = std::make_unique<DesktopNotifier>();
    notifier->post({"t1-finished", "Finished", "Lost"}); // no server yet: refused, nothing kept
    roundTrip();
    test::FakeNotificationServer server;
    ASSERT_TRUE(server.start());

    // A thread reaches approval, finishes, then reaches approval again.
    const ThreadView approval{.id = "t1", .title = std::string(200, 'x'), .status = ThreadState::waitingForApproval};
    for (const auto &notification : {NotificationPolicy::notificationFor(approval), {"t1-finished", "Finished", "Done"},
                                     NotificationPolicy::notificationFor(approval)}) {
        notifier->post(notification);
        ASSERT_TRUE(test::waitUntil([&, count = server.calls().size() + 1] { return server.calls().size() == count; }));
        roundTrip();
    }
    const auto &sent = server.calls();
    ASSERT_EQ(sent.size(), 3u);
    const auto sound = sent[0].hints.value("sound-name").toString();
    EXPECT_EQ(std::tuple(sent[0].summary, sent[0].body, sent[0].replacesId, sound),
              std::tuple("Needs approval", QString(160, u'x'), 0u, "message-new-instant"));
    EXPECT_EQ(std::tuple(sent[1].summary, sent[1].body, sent[1].replacesId), std::tuple("Finished", "Done", 0u))
        << "a new identifier, and none kept from the refused call";
    EXPECT_EQ(sent[2].replacesId, sent[0].answeredId) << "the same identifier replaces";

    // Gone before the server answers: the reply finds no one.
    notifier->post({"t1-failed", "Failed", "Gone"});
    notifier.reset();
    ASSERT_TRUE(test::waitUntil([&] { return server.calls().size() == 4; }));
    roundTrip();
}

TEST(LoginItem, OnlyTheInstalledExecutableWritesAndRemovesItsEntry)
{
    QTemporaryDir root;
    const QString installed = root.filePath("orvane"), link = root.filePath("link"), folder = root.filePath("autostart");
    ASSERT_TRUE(QFile(installed).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::link(installed, link));
    const LoginItem item(folder, installed, link); // reached through a link counts as installed
    // A build copy, or a missing installed file, changes nothing: no folder, no entry removed.
    const auto others = [&](bool on) {
        LoginItem(folder, installed, root.filePath("build/orvane")).apply(on);
        LoginItem(folder, root.filePath("none"), root.filePath("none")).apply(on);
    };
    others(true);
    EXPECT_FALSE(QFile::exists(folder));
    item.apply(true);
    QFile entry(item.entryPath());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().startsWith("[Desktop Entry]\nType=Application\nName=Orvane Companion\n"));
    others(false);
    EXPECT_TRUE(entry.exists());
    item.apply(false);
    EXPECT_FALSE(QFile::exists(item.entryPath()));
    EXPECT_NO_THROW(item.apply(false)) << "nothing left to remove";

    // A file where a folder should be.
    EXPECT_THAT([&] { LoginItem(installed + "/autostart", installed, installed).apply(true); },
                testing::ThrowsMessage<LoginItem::Error>(testing::StrEq(
                    "Start at login could not be changed: The folder " + installed.toStdString() + "/autostart cannot be created.")));
    ASSERT_TRUE(QDir().mkpath(item.entryPath() + "/inside"));
    for (bool on : {true, false})
        EXPECT_THAT([&] { item.apply(on); }, testing::ThrowsMessage<LoginItem::Error>(testing::MatchesRegex("Start at login could not be changed: .+")));

    EXPECT_THAT(LoginItem::entryFor(R"(/opt/my apps/$HOME/100%/a"b\c)").toStdString(),
                testing::HasSubstr(R"(Exec="/opt/my apps/\\$HOME/100%%/a\\"b\\\\c" --hidden)" "\n"));
    EXPECT_EQ(LoginItem().entryPath(), qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/dev.orvane.companion.desktop");
}

} // namespace
} // namespace orvane
