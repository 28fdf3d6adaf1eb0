#include "companion/desktop_notifier.h"
#include "fake_notification_server.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QEventLoop>
#include <QTimer>

namespace orvane {
namespace {

using namespace std::chrono_literals;
using NotificationPolicy::Notification;

// Runs the event loop until the server has received `count` calls in all.
void awaitCalls(const test::FakeNotificationServer &server, std::size_t count)
{
    QEventLoop loop;
    QObject::connect(&server, &test::FakeNotificationServer::received, &loop, [&] {
        if (server.calls().size() >= count)
            loop.quit();
    });
    QTimer::singleShot(10s, &loop, &QEventLoop::quit);
    if (server.calls().size() < count)
        loop.exec();
    ASSERT_EQ(server.calls().size(), count);
}

ThreadView thread(std::string id, ThreadState status, std::string title)
{
    ThreadView view;
    view.id = std::move(id);
    view.status = status;
    view.title = std::move(title);
    return view;
}

TEST(DesktopNotifier, PostsAndReplacesByIdentifier)
{
    test::FakeNotificationServer server;
    ASSERT_TRUE(server.start());
    DesktopNotifier notifier;

    // A refresh cycle: a thread reaches approval, then finishes, then reaches approval again.
    const std::string longTitle(200, 'x');
    std::map<std::string, ThreadState> previous{{"t1", ThreadState::thinking}};
    const std::vector<std::vector<ThreadView>> runs{
        {thread("t1", ThreadState::waitingForApproval, longTitle)},
        {thread("t1", ThreadState::waitingForApproval, longTitle)},
        {thread("t1", ThreadState::finished, "Done")},
        {thread("t1", ThreadState::waitingForApproval, "Again")},
    };
    std::size_t expectedCalls = 0;
    for (const auto &threads : runs) {
        for (const auto &notification : NotificationPolicy::newlyReached(previous, threads, true)) {
            notifier.post(notification);
            awaitCalls(server, ++expectedCalls);
        }
        previous = NotificationPolicy::statesById(threads);
    }

    const auto &calls = server.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].summary, "Needs approval");
    EXPECT_EQ(calls[0].body, QString(160, u'x'));
    EXPECT_EQ(calls[0].replacesId, 0u);
    EXPECT_EQ(calls[0].hints.value("sound-name").toString(), "message-new-instant");
    EXPECT_EQ(calls[1].summary, "Finished");
    EXPECT_EQ(calls[1].body, "Done");
    EXPECT_EQ(calls[1].replacesId, 0u) << "a new state is a new notification";
    EXPECT_EQ(calls[2].summary, "Needs approval");
    EXPECT_EQ(calls[2].replacesId, calls[0].answeredId) << "the same identifier replaces";
}

TEST(DesktopNotifier, NothingHappensWithoutAServer)
{
    DesktopNotifier notifier;
    const Notification first{"t1-finished", "Finished", "One"};
    notifier.post(first);

    // The bus answers one connection's calls in order: once this round trip is back, the
    // notification has been refused for want of a server.
    const auto ping = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                     "org.freedesktop.DBus", "GetId");
    ASSERT_EQ(QDBusConnection::sessionBus().call(ping).type(), QDBusMessage::ReplyMessage);

    test::FakeNotificationServer server;
    ASSERT_TRUE(server.start());
    notifier.post({"t2-failed", "Failed", "Two"});
    awaitCalls(server, 1);
    notifier.post(first);
    awaitCalls(server, 2);
    EXPECT_EQ(server.calls()[1].replacesId, 0u) << "no id was remembered from the failed call";
}

TEST(DesktopNotifier, GoneBeforeTheServerAnswers)
{
    test::FakeNotificationServer server;
    ASSERT_TRUE(server.start());
    auto notifier = std::make_unique<DesktopNotifier>();
    notifier->post({"t1-finished", "Finished", "One"});
    notifier.reset();
    awaitCalls(server, 1);
    // Let the reply arrive with no one left to take it.
    QEventLoop settle;
    QTimer::singleShot(50ms, &settle, &QEventLoop::quit);
    settle.exec();
}

} // namespace
} // namespace orvane
