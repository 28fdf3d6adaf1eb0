#include "app/quit_signals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace orvane {
namespace {

constexpr std::array<int, 3> quitSignals{SIGTERM, SIGINT, SIGHUP};

std::array<int, 2> wakePipe{-1, -1};

void onSignal(int signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const auto written = ::write(wakePipe[1], &byte, 1);
    errno = saved;
}

void handleWith(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : quitSignals)
        ::sigaction(signal, &action, nullptr);
}

} // namespace

QuitSignals::QuitSignals(std::function<void()> quit, QObject *parent) : QObject(parent), quit_(std::move(quit))
{
    if (::pipe2(wakePipe.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(wakePipe[0], bytes, sizeof bytes) > 0) {
        }
        if (quitting_)
            return;
        quitting_ = true;
        quit_();
    });
    handleWith(onSignal);
}

QuitSignals::~QuitSignals()
{
    if (!notifier_)
        return;
    handleWith(SIG_DFL);
    delete notifier_;
    ::close(wakePipe[0]);
    ::close(wakePipe[1]);
    wakePipe = {-1, -1};
}

} // namespace orvane
