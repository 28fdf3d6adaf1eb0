#pragma once
// Running `orvane` and `orvane-relay` as a user would, for the headless end-to-end tests.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <chrono>
#include <ostream>
#include <vector>

// Readable failure messages for the texts the programs print.
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

// One run to its end; one that overruns `limit` is killed.
Finished run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
             std::chrono::milliseconds limit = std::chrono::seconds(120));

// A long-running `orvane` (by default --headless) whose standard output the test reads line by
// line; terminated, then killed, with the object.
class RunningCompanion {
public:
    RunningCompanion(const QString &program, const QProcessEnvironment &environment,
                     const QStringList &arguments = {QStringLiteral("--headless")});
    ~RunningCompanion();

    // Waits for a line, after the ones already matched, whose text after the time prefix is
    // `text`; the lines before it are passed over.
    bool waitForLine(const QString &text, std::chrono::milliseconds limit = std::chrono::seconds(20));
    QStringList lines();
    QByteArray errors();
    qint64 pid() const { return process_.processId(); }
    bool running() const { return process_.state() != QProcess::NotRunning; }
    bool waitForExit(std::chrono::milliseconds limit);
    int exitCode() const { return process_.exitCode(); }
    // The child processes running Codex's App Server.
    std::vector<qint64> appServerChildren() const;

private:
    void take();
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

// A session bus that no Secret Service is on or can be started on: a bus daemon whose
// configuration names no service directory.
class BareSessionBus {
public:
    BareSessionBus();
    ~BareSessionBus();
    const QString &address() const { return address_; }

private:
    QTemporaryDir directory_;
    QProcess daemon_;
    QString address_;
};

} // namespace orvane::test
