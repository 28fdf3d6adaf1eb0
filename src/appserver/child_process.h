#pragma once
#include <QCoroTask>
#include <QPointer>
#include <QProcess>

namespace orvane {

// Makes the child lead a process group of its own, so it can be signalled together with
// whatever it starts (the npm launcher starts the real App Server as its own child), and
// die with the companion even when the companion is killed.
void leadOwnProcessGroup(QProcess &process);
void signalProcessGroup(qint64 pid, int signal);

// Waits until a started process runs or has failed to start; false when it failed or the
// process object went away.
QCoro::Task<bool> launched(QPointer<QProcess> process);

}
