#include "process_harness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <csignal>
#include <unistd.h>

namespace orvane::test {

Finished run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
             std::chrono::milliseconds limit)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!waitUntil([&] { return process.state() == QProcess::NotRunning; }, limit)) {
        process.kill();
        process.waitForFinished();
        return {-1, {}, "did not finish in time: " + program + " " + arguments.join(' ')};
    }
    const bool ended = process.exitStatus() == QProcess::NormalExit && process.error() != QProcess::FailedToStart;
    return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

bool noneLeft(const QByteArray &entry, std::chrono::milliseconds limit)
{
    const auto holders = [&entry] {
        std::vector<pid_t> pids;
        for (const auto &name : QDir("/proc").entryList(QDir::Dirs)) {
            QFile environ("/proc/" + name + "/environ");
            if (name.toInt() != ::getpid() && environ.open(QIODevice::ReadOnly) &&
                environ.readAll().split('\0').contains(entry))
                pids.push_back(name.toInt());
        }
        return pids;
    };
    if (waitUntil([&] { return holders().empty(); }, limit))
        return true;
    for (const pid_t pid : holders())
        ::kill(pid, SIGKILL);
    return false;
}

std::optional<boost::json::object> nextOfType(TestSocket &socket, std::string_view type,
                                              std::chrono::milliseconds limit, bool strict)
{
    const QDeadlineTimer deadline(limit);
    while (const auto message = socket.next(std::chrono::milliseconds(deadline.remainingTime()))) {
        auto parsed = boost::json::parse(message->toStdString()).as_object();
        if (parsed.at("type") == boost::json::value(type))
            return parsed;
        if (strict || deadline.hasExpired())
            break;
    }
    return std::nullopt;
}

RunningCompanion::RunningCompanion(const QString &program, const QProcessEnvironment &environment,
                                   const QStringList &arguments)
{
    process_.setProcessEnvironment(environment);
    process_.start(program, arguments);
    process_.waitForStarted();
}

RunningCompanion::~RunningCompanion()
{
    process_.terminate();
    if (running() && !process_.waitForFinished(10'000))
        process_.kill();
    process_.waitForFinished();
}

QStringList RunningCompanion::lines()
{
    while (process_.canReadLine())
        lines_.append(QString::fromUtf8(process_.readLine()).chopped(1));
    return lines_;
}

bool RunningCompanion::waitForLine(const QString &text, std::chrono::milliseconds limit)
{
    static const QRegularExpression time(QStringLiteral("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9] "));
    bool found = false;
    // waitUntil asks once more after the loop, so finding must not be undone by asking again.
    waitUntil(
        [&] {
            lines();
            for (; !found && matched_ < lines_.size(); ++matched_)
                found = time.match(lines_[matched_]).hasMatch() && lines_[matched_].mid(9) == text;
            return found;
        },
        limit);
    return found;
}

std::vector<qint64> RunningCompanion::appServerChildren() const
{
    std::vector<qint64> children;
    QFile list(QString("/proc/%1/task/%1/children").arg(pid()));
    list.open(QIODevice::ReadOnly);
    for (const auto &child : list.readAll().split(' ')) {
        QFile commandLine("/proc/" + child + "/cmdline");
        if (!child.isEmpty() && commandLine.open(QIODevice::ReadOnly) && commandLine.readAll().contains("app-server"))
            children.push_back(child.toLongLong());
    }
    return children;
}

RelayProcess::RelayProcess(const QString &program)
{
    process_.start(program, {"--listen", "127.0.0.1:0", "--data", data_.path()});
    if (!process_.waitForReadyRead(10'000))
        return;
    const auto match = QRegularExpression("^orvane-relay listening on (http://127\\.0\\.0\\.1:[0-9]+)$")
                           .match(QString::fromUtf8(process_.readLine()).trimmed());
    if (match.hasMatch())
        baseUrl_ = QUrl(match.captured(1));
}

RelayProcess::~RelayProcess()
{
    process_.terminate();
    process_.waitForFinished(10'000);
}

BareSessionBus::BareSessionBus()
{
    daemon_.start("dbus-daemon", {"--nofork", "--print-address", "--config-file=" ORVANE_FIXTURES "/bare-session.conf"});
    if (daemon_.waitForReadyRead(10'000))
        address_ = QString::fromUtf8(daemon_.readLine().trimmed());
}

BareSessionBus::~BareSessionBus()
{
    daemon_.terminate();
    daemon_.waitForFinished(5'000);
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
    run(codex_, {"app-server", "daemon", "stop"}, environment_);
    // What still runs, by the ids recorded; only a process started from this home's copy of the
    // CLI, so a recycled id is safe.
    for (const char *name : {"daemon.pid", "daemon-updater.pid"}) {
        QFile record(home_.path() + "/.codex/app-server-daemon/" + name);
        const qint64 pid = record.open(QIODevice::ReadOnly)
                               ? QJsonDocument::fromJson(record.readAll()).object().value("pid").toInteger() : 0;
        QFile commandLine(QString("/proc/%1/cmdline").arg(pid));
        if (pid > 0 && commandLine.open(QIODevice::ReadOnly) && commandLine.readAll().startsWith(home_.path().toUtf8()))
            ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
}

} // namespace orvane::test
