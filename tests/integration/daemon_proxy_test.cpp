// The real Codex CLI's managed daemon, reached through `codex app-server proxy`.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <chrono>
#include <thread>

namespace {

constexpr int commandLimitMs = 120'000;

struct Finished {
    int exitCode = -1;
    QString out;
    QString err;
};

Finished runProcess(const QString &program, const QStringList &arguments,
                    const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Finished finished;
    if (!process.waitForFinished(commandLimitMs)) {
        process.kill();
        process.waitForFinished();
        finished.err = "did not finish in time: " + program + " " + arguments.join(' ');
        return finished;
    }
    finished.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    finished.out = QString::fromUtf8(process.readAllStandardOutput());
    finished.err = QString::fromUtf8(process.readAllStandardError());
    return finished;
}

// A managed daemon in a home of its own. `daemon start` copies the CLI package (about 420 MB)
// into the home and leaves the daemon and an updater running detached; both are stopped on
// destruction, by the process ids they recorded, whatever the test's outcome.
class ManagedDaemon {
public:
    ManagedDaemon(QString codex, QProcessEnvironment environment)
        : codex_(std::move(codex)), environment_(std::move(environment)),
          home_(environment_.value("HOME"))
    {
    }

    ~ManagedDaemon()
    {
        runProcess(codex_, {"app-server", "daemon", "stop"}, environment_);
        for (const char *file : {"daemon.pid", "daemon-updater.pid"})
            stop(recordedPid(file));
    }

    Finished start() { return runProcess(codex_, {"app-server", "daemon", "start"}, environment_); }

private:
    qint64 recordedPid(const char *file) const
    {
        QFile record(home_ + "/.codex/app-server-daemon/" + file);
        if (!record.open(QIODevice::ReadOnly))
            return 0;
        return QJsonDocument::fromJson(record.readAll()).object().value("pid").toInteger();
    }

    // Only a live process started from this home's copy of the CLI, so a recycled id is safe.
    bool ours(qint64 pid) const
    {
        QFile commandLine(QString("/proc/%1/cmdline").arg(pid));
        return commandLine.open(QIODevice::ReadOnly) && commandLine.readAll().startsWith(home_.toUtf8());
    }

    void stop(qint64 pid) const
    {
        if (pid <= 0 || !ours(pid))
            return;
        ::kill(static_cast<pid_t>(pid), SIGTERM);
        for (int tries = 0; tries < 50 && ours(pid); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (ours(pid))
            ::kill(static_cast<pid_t>(pid), SIGKILL);
    }

    QString codex_;
    QProcessEnvironment environment_;
    QString home_;
};

TEST(DaemonProxy, IntegrationTestConnectsThroughTheRunningDaemon)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.remove("CODEX_HOME");
    // The pinned CLI is the `codex` found on PATH.
    environment.insert("PATH", QString(ORVANE_TEST_CODEX_DIR) + ":/usr/bin:/bin");
    const QString codex = QString(ORVANE_TEST_CODEX_DIR) + "/codex";

    ManagedDaemon daemon(codex, environment);
    const Finished started = daemon.start();
    ASSERT_EQ(started.exitCode, 0) << started.out.toStdString() << started.err.toStdString();
    ASSERT_TRUE(started.out.contains("\"status\":\"started\"")) << started.out.toStdString();

    const Finished integration = runProcess(ORVANE_BINARY, {"--codex-integration-test"}, environment);
    EXPECT_EQ(integration.exitCode, 0) << integration.err.toStdString();
    EXPECT_TRUE(integration.out.startsWith("Codex integration: connected; version=codex-cli 0.171.0;"))
        << integration.out.toStdString();
    EXPECT_TRUE(integration.out.trimmed().endsWith("mode=Managed daemon proxy"))
        << integration.out.toStdString();
}

} // namespace
