#pragma once

#include <QObject>
#include <QTimer>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <optional>
#include <string_view>

namespace orvane {

// Turns App Server messages into refreshes without feeding back on itself. A refresh's own
// thread reads answer with a deprecation notice each, and a running turn streams hundreds of
// deltas a second, so only messages about threads, turns, items, the account or errors count,
// refreshes they start never overlap, at most one more waits, and starts are at least
// `spacing` apart. Every counted message is still followed by a refresh that starts after it.
// The polling loop and the user's refreshes do not go through here.
class RefreshTrigger : public QObject
{
    Q_OBJECT

public:
    // Must return the task of a refresh that never throws and does not depend on the callable
    // staying alive (a member coroutine of the model, not a capturing coroutine lambda).
    using Refresh = std::function<QCoro::Task<void>()>;

    explicit RefreshTrigger(Refresh refresh,
                            std::chrono::milliseconds spacing = std::chrono::seconds(1),
                            QObject *parent = nullptr);

    // Whether a message starts a refresh at all: notifications under "thread/", "turn/",
    // "item/" and "account/", the "error" notification, and every server request.
    static bool startsRefresh(std::string_view method, bool serverRequest);

    // One message from the App Server, a server request when it carried an "id".
    void onMessage(std::string_view method, bool serverRequest);
    // A refresh asked for by something else (a command), coalesced and spaced the same way.
    void request();

private:
    void startWhenDue();
    QCoro::Task<void> run();

    Refresh refresh_;
    std::chrono::milliseconds spacing_;
    QTimer spacingTimer_;
    bool running_ = false;
    bool waiting_ = false;
    std::optional<std::chrono::steady_clock::time_point> lastStart_;
};

} // namespace orvane
