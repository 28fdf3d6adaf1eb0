#include "appserver/child_process.h"

#include <coroutine>
#include <memory>
#include <utility>

#include <csignal>
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>

namespace orvane {

void leadOwnProcessGroup(QProcess &process)
{
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::setpgid(0, 0);
        // Killed with the companion, however it ends; a companion already gone cannot signal.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
    });
}

void signalProcessGroup(qint64 pid, int signal)
{
    if (pid > 0)
        ::kill(static_cast<pid_t>(-pid), signal);
}

namespace {

// Resumes on the process's next state change, or when it is destroyed. (QCoro's signal
// awaiter cannot take QProcess's private-signal argument.)
struct NextState {
    QProcess *process;
    QMetaObject::Connection changed;
    QMetaObject::Connection destroyed;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiter)
    {
        // A change already queued may still arrive after the disconnect: resume once only.
        auto resume = [this, waiter, once = std::make_shared<bool>(false)] {
            if (std::exchange(*once, true))
                return;
            QObject::disconnect(changed);
            QObject::disconnect(destroyed);
            waiter.resume();
        };
        changed = QObject::connect(process, &QProcess::stateChanged, process, resume, Qt::QueuedConnection);
        destroyed = QObject::connect(process, &QObject::destroyed, resume);
    }
    void await_resume() const noexcept {}
};

}

QCoro::Task<bool> launched(QPointer<QProcess> process)
{
    // A program that cannot be run may be refused before start() returns; no signal follows.
    while (process && process->state() == QProcess::Starting)
        co_await NextState{process.data(), {}, {}};
    co_return process && process->state() == QProcess::Running;
}

}
