#pragma once
// Real processes for the end-to-end tests: `orvane` and `orvane-relay` as users run them, the
// real Codex CLI's managed daemon.
#include "relay_test_support.h"

#include <boost/json.hpp>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <chrono>
#include <optional>
#include <ostream>
#include <vector>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace orvane::test {

struct Finished {
    int exitCode = -1; // -1 when it crashed or overran the limit
    QString out;
    QString err;
};

// One run to its end, the event loop turning meanwhile; one that overruns `limit` is killed.
Finished run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
             std::chrono::milliseconds limit = std::chrono::minutes(2));

// Whether, within `limit`, no process's environment holds this exact entry ("HOME=/tmp/x"):
// none of a run's children is left. Those left then are killed, so a failure leaves no strays.
bool noneLeft(const QByteArray &entry, std::chrono::milliseconds limit = std::chrono::seconds(5));

// The next relay message of `type` on a subscriber socket, passing over others unless `strict`,
// where any other message first is a failure.
std::optional<boost::json::object> nextOfType(TestSocket &socket, std::string_view type,
                                              std::chrono::milliseconds limit = std::chrono::seconds(15),
                                              bool strict = false);
inline std::optional<boost::json::object> nextSnapshot(TestSocket &socket, std::chrono::milliseconds limit = std::chrono::seconds(15))
{
    auto message = nextOfType(socket, "snapshot", limit);
    return message ? std::optional(message->at("snapshot").as_object()) : std::nullopt;
}

// A long-running `orvane` whose output lines the test reads; terminated, then killed, with the object.
class RunningCompanion {
public:
    RunningCompanion(const QString &program, const QProcessEnvironment &environment,
                     const QStringList &arguments = {QStringLiteral("--headless")});
    ~RunningCompanion();
    // Waits for a line after the ones matched so far whose text after "HH:MM:SS " is `text`.
    bool waitForLine(const QString &text, std::chrono::milliseconds limit = std::chrono::seconds(20));
    QStringList lines();
    std::string dump() { return lines().join('\n').toStdString(); }
    QByteArray errors() { return process_.readAllStandardError(); }
    qint64 pid() const { return process_.processId(); }
    bool running() const { return process_.state() != QProcess::NotRunning; }
    bool waitForExit(std::chrono::milliseconds limit) { return process_.waitForFinished(int(limit.count())); }
    int exitCode() const { return process_.exitCode(); }
    // Its children running Codex's App Server.
    std::vector<qint64> appServerChildren() const;

private:
    QProcess process_;
    QStringList lines_;
    qsizetype matched_ = 0;
};

// orvane-relay on a free loopback port, its data in a temporary directory.
class RelayProcess {
public:
    explicit RelayProcess(const QString &program);
    ~RelayProcess();
    const QUrl &baseUrl() const { return baseUrl_; }

private:
    QTemporaryDir data_;
    QProcess process_;
    QUrl baseUrl_;
};

// A session bus on which no Secret Service is or can be started.
class BareSessionBus {
public:
    BareSessionBus();
    ~BareSessionBus();
    const QString &address() const { return address_; }

private:
    QProcess daemon_;
    QString address_;
};

// A temporary HOME with the pinned CLI first on PATH. Its `daemon start` leaves the daemon and an
// updater running detached; both are stopped with the object, by the ids they recorded, however
// the test ends.
class ManagedDaemon {
public:
    explicit ManagedDaemon(const QString &codexDir);
    ~ManagedDaemon();
    QString codex() const { return codex_; }
    const QProcessEnvironment &environment() const { return environment_; }

private:
    QTemporaryDir home_;
    QString codex_;
    QProcessEnvironment environment_;
};

} // namespace orvane::test
