#pragma once

#include <QObject>
#include <QTimer>

#include <optional>
#include <ostream>
#include <string>

namespace orvane {

class CompanionModel;

// The headless companion's only output: one line, prefixed with the local time (HH:MM:SS),
// whenever Codex's connection (with the error that broke it) or its mode (own App Server or
// the managed daemon), the relay's connection (with the reason and wait of each retry), the
// pairing, the current thread's title and activity, or the last error changes; one line
// summing up the threads found at start; one line per command from the glasses. The model
// announces every assignment, equal values included, and often several fields at once, so the
// lines are worked out once per turn of the event loop from the state then, and only what
// differs from what was printed is printed. Never the sync time, never a token.
class HeadlessReport : public QObject {
public:
    HeadlessReport(const CompanionModel &model, std::ostream &out);

private:
    void report();
    void print(const std::string &line);

    const CompanionModel &model_;
    std::ostream &out_;
    QTimer pending_;
    // What was printed last; nothing until the first line of its kind.
    std::optional<bool> codexConnected_;
    bool codexDecided_ = false;
    bool relayConnected_ = false;
    std::optional<bool> paired_;
    std::optional<std::string> thread_;
    std::optional<std::string> error_;
    std::optional<std::string> connectionMode_;
    int reconnectAttempt_ = 0;
    bool threadsListed_ = false;
    bool summarized_ = false;
};

} // namespace orvane
