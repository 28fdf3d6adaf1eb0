#include "appserver/app_server_client.h"
#include "appserver/child_process.h"

#include <QCoroProcess>
#include <QProcess>
#include <QStringDecoder>

#include <csignal>

namespace orvane {

QCoro::Task<std::optional<std::string>> AppServerClient::run(std::string path, QStringList arguments,
                                                             std::chrono::milliseconds limit)
{
    QProcess process;
    process.setProgram(QString::fromStdString(path));
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // An overrun takes the launcher's children with it.
    leadOwnProcessGroup(process);
    process.start(QIODevice::ReadOnly);
    if (!co_await launched(&process))
        co_return std::nullopt;
    const auto pid = process.processId();
    if (!co_await qCoro(process).waitForFinished(limit)) {
        signalProcessGroup(pid, SIGKILL);
        co_await qCoro(process).waitForFinished();
        co_return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        co_return std::nullopt;
    const QByteArray output = process.readAllStandardOutput();
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(output);
    if (utf8.hasError())
        co_return std::nullopt;
    co_return output.toStdString();
}

}
