#pragma once
#include "await_task.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>
#include <optional>
#include <string>

namespace orvane::test {

// What a task ended with: its value, or the text of its error.
template <typename T>
struct Outcome {
    std::optional<T> value;
    std::string error;
};

template <typename T>
Outcome<T> outcomeOf(QCoro::Task<T> task)
{
    try {
        return {awaitTask(std::move(task)), {}};
    } catch (const std::exception &error) {
        return {std::nullopt, error.what()};
    }
}

inline bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.hasExpired(limit.count()))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

}
