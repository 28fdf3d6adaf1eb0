#include "headless_support.h"

#include "relay_test_support.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace orvane::test {

Finished run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
             std::chrono::milliseconds limit)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Finished finished;
    if (!process.waitForFinished(static_cast<int>(limit.count()))) {
        process.kill();
        process.waitForFinished();
        finished.err = QStringLiteral("did not finish in time: ") + arguments.join(u' ');
        return finished;
    }
    finished.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    finished.out = QString::fromUtf8(process.readAllStandardOutput());
    finished.err = QString::fromUtf8(process.readAllStandardError());
    return finished;
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
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(10'000)) {
        process_.kill();
        process_.waitForFinished();
    }
}

void RunningCompanion::take()
{
    while (process_.canReadLine())
        lines_.append(QString::fromUtf8(process_.readLine()).chopped(1));
}

bool RunningCompanion::waitForLine(const QString &text, std::chrono::milliseconds limit)
{
    static const QRegularExpression prefix(QStringLiteral("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9] "));
    bool found = false;
    // waitUntil asks once more after the loop, so finding must not be undone by asking again.
    waitUntil(
        [&] {
            take();
            for (; !found && matched_ < lines_.size(); ++matched_) {
                const QString &line = lines_[matched_];
                found = prefix.match(line).hasMatch() && line.mid(9) == text;
            }
            return found;
        },
        limit);
    return found;
}

QStringList RunningCompanion::lines()
{
    take();
    return lines_;
}

QByteArray RunningCompanion::errors()
{
    return process_.readAllStandardError();
}

bool RunningCompanion::waitForExit(std::chrono::milliseconds limit)
{
    return process_.waitForFinished(static_cast<int>(limit.count()));
}

std::vector<qint64> RunningCompanion::appServerChildren() const
{
    std::vector<qint64> children;
    const QString parent = QString::number(pid());
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!stat.open(QIODevice::ReadOnly) || !commandLine.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const QString fields = QString::fromUtf8(stat.readAll());
        const QStringList rest = fields.mid(fields.lastIndexOf(u')') + 2).split(u' ');
        if (rest.size() > 1 && rest[1] == parent && commandLine.readAll().contains("app-server"))
            children.push_back(entry.toLongLong());
    }
    return children;
}

RelayProcess::RelayProcess(const QString &program)
{
    process_.start(program, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--data"), data_.path()});
    if (!process_.waitForReadyRead(10'000))
        return;
    const auto match = QRegularExpression(QStringLiteral("^orvane-relay listening on (http://127\\.0\\.0\\.1:[0-9]+)$"))
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
    const QString config = directory_.filePath(QStringLiteral("session.conf"));
    QFile file(config);
    file.open(QIODevice::WriteOnly);
    file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                              "<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>\n"
                              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>\n"
                              "</busconfig>\n")
                   .arg(directory_.path())
                   .toUtf8());
    file.close();
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--nofork"), QStringLiteral("--print-address"), QStringLiteral("--config-file=") + config});
    if (daemon_.waitForReadyRead(10'000))
        address_ = QString::fromUtf8(daemon_.readLine().trimmed());
}

BareSessionBus::~BareSessionBus()
{
    daemon_.terminate();
    daemon_.waitForFinished(5'000);
}

} // namespace orvane::test
