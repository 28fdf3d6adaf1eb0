#pragma once
// The real Codex CLI's managed daemon in a home of its own, for tests that reach it through
// `codex app-server proxy`.
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace orvane::test {

struct Finished {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs a command to its end (two minutes at most), keeping the event loop turning meanwhile so
// that a companion in the same process goes on working.
Finished runProcess(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment);

// A temporary HOME with the pinned CLI first on PATH. `start()` runs `daemon start`, which
// copies the CLI package (about 420 MB) into the home and leaves the daemon and an updater
// running detached; both are stopped on destruction, by the process ids they recorded,
// whatever the test's outcome.
class ManagedDaemon {
public:
    explicit ManagedDaemon(const QString &codexDir);
    ~ManagedDaemon();
    ManagedDaemon(const ManagedDaemon &) = delete;
    ManagedDaemon &operator=(const ManagedDaemon &) = delete;

    bool valid() const { return home_.isValid(); }
    QString home() const { return home_.path(); }
    QString codex() const { return codex_; }
    const QProcessEnvironment &environment() const { return environment_; }

    // Whether the daemon reported itself started; `failure` tells what it printed otherwise.
    bool start(QString *failure);

private:
    qint64 recordedPid(const char *file) const;
    bool ours(qint64 pid) const;
    void stop(qint64 pid) const;

    QTemporaryDir home_;
    QString codex_;
    QProcessEnvironment environment_;
};

} // namespace orvane::test
