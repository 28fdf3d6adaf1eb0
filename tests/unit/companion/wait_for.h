#pragma once

#include <await_task.h>

#include <QCoroTimer>

#include <functional>

namespace orvane::test {

// Runs the event loop until `done` holds; the watchdog ends the run after ten seconds.
inline void waitFor(std::function<bool()> done)
{
    awaitTask([](std::function<bool()> until) -> QCoro::Task<void> {
        while (!until())
            co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    }(std::move(done)), std::chrono::seconds(10));
}

} // namespace orvane::test
