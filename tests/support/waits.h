#pragma once
// The two ways a test waits while the event loop turns: for a coroutine to finish, or for a
// condition to hold, with a limit.
#include <QCoroTask>
#include <QEventLoop>
#include <QtCore/qtestsupport_core.h>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <type_traits>

namespace orvane::test {

// Runs the event loop until `task` finishes and returns its value or rethrows its error. A task
// that never finishes is ended by the test's own time limit.
template <typename T>
T awaitTask(QCoro::Task<T> task)
{
    QEventLoop loop;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    std::exception_ptr error;
    // Named, so the closure the coroutine refers to outlives it.
    auto runner = [&]() -> QCoro::Task<void> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(task);
                value.emplace(true);
            } else {
                value.emplace(co_await std::move(task));
            }
        } catch (...) {
            error = std::current_exception();
        }
        loop.quit();
    };
    auto running = runner();
    if (!value && !error)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*value);
}

// Runs the event loop until `done` holds or `limit` passes; says which.
inline bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    return QTest::qWaitFor(done, static_cast<int>(limit.count()));
}

} // namespace orvane::test
