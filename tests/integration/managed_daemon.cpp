#include "managed_daemon.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <chrono>
#include <csignal>
#include <thread>

namespace orvane::test {
namespace {

constexpr std::chrono::minutes commandLimit{2};

} // namespace

Finished runProcess(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Finished finished;
    const QDeadlineTimer deadline(commandLimit);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        process.waitForFinished(50);
        QCoreApplication::processEvents();
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        finished.err = "did not finish in time: " + program + " " + arguments.join(' ');
        return finished;
    }
    if (process.error() == QProcess::FailedToStart) {
        finished.err = "could not start " + program;
        return finished;
    }
    finished.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    finished.out = QString::fromUtf8(process.readAllStandardOutput());
    finished.err = QString::fromUtf8(process.readAllStandardError());
    return finished;
}

ManagedDaemon::ManagedDaemon(const QString &codexDir)
    : codex_(codexDir + "/codex"), environment_(QProcessEnvironment::systemEnvironment())
{
    environment_.insert("HOME", home_.path());
    environment_.remove("CODEX_HOME");
    environment_.insert("PATH", codexDir + ":/usr/bin:/bin");
}

ManagedDaemon::~ManagedDaemon()
{
    runProcess(codex_, {"app-server", "daemon", "stop"}, environment_);
    for (const char *file : {"daemon.pid", "daemon-updater.pid"})
        stop(recordedPid(file));
}

bool ManagedDaemon::start(QString *failure)
{
    const Finished started = runProcess(codex_, {"app-server", "daemon", "start"}, environment_);
    if (started.exitCode == 0 && started.out.contains("\"status\":\"started\""))
        return true;
    *failure = QString("status %1: %2 %3").arg(started.exitCode).arg(started.out, started.err);
    return false;
}

qint64 ManagedDaemon::recordedPid(const char *file) const
{
    QFile record(home_.path() + "/.codex/app-server-daemon/" + file);
    if (!record.open(QIODevice::ReadOnly))
        return 0;
    return QJsonDocument::fromJson(record.readAll()).object().value("pid").toInteger();
}

// Only a live process started from this home's copy of the CLI, so a recycled id is safe.
bool ManagedDaemon::ours(qint64 pid) const
{
    QFile commandLine(QString("/proc/%1/cmdline").arg(pid));
    return commandLine.open(QIODevice::ReadOnly) && commandLine.readAll().startsWith(home_.path().toUtf8());
}

void ManagedDaemon::stop(qint64 pid) const
{
    if (pid <= 0 || !ours(pid))
        return;
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    for (int tries = 0; tries < 50 && ours(pid); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (ours(pid))
        ::kill(static_cast<pid_t>(pid), SIGKILL);
}

} // namespace orvane::test
