#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace orvane {

// SIGTERM, SIGINT and SIGHUP end the companion through its event loop instead of at once, so
// it can close the relay socket and stop its children in order. The handler only writes to a
// pipe the event loop watches. One instance at a time; the default handlers come back with
// its destruction.
class QuitSignals : public QObject
{
public:
    // `quit` runs once, on the event loop, at the first of these signals.
    explicit QuitSignals(std::function<void()> quit, QObject *parent = nullptr);
    ~QuitSignals() override;

private:
    std::function<void()> quit_;
    QSocketNotifier *notifier_ = nullptr;
    bool quitting_ = false;
};

} // namespace orvane
