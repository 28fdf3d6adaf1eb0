#include "app/companion_modes.h"

#include "app/companion_actions.h"
#include "app/headless_report.h"
#include "app/instance_client.h"
#include "app/instance_lock.h"
#include "app/instance_server.h"
#include "app/quit_signals.h"
#include "companion/companion_model.h"
#include "normalize/terminal_text.h"
#include "relay/credential_store_choice.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QThread>

#include <chrono>
#include <iostream>

namespace orvane::CompanionModes {
namespace {

using namespace std::chrono_literals;

// How long a start waits for a companion that holds the lock but does not listen yet (still
// starting, or a command-line request running on a model of its own).
constexpr auto settleLimit = 10s;
// Pairing waits on the relay for up to a minute.
constexpr auto answerLimit = 90s;

const char *const alreadyRunning = "Orvane is already running.";

int print(const InstanceReply &reply)
{
    std::ostream &out = reply.succeeded ? std::cout : std::cerr;
    if (!reply.text.empty())
        out << TerminalText::block(reply.text) << '\n';
    out.flush();
    return reply.succeeded ? 0 : 1;
}

// The lock stays held until the companion ends.
int serve(const InstanceLock &)
{
    CompanionModel model(modelOptions());
    HeadlessReport report(model, std::cout);
    const CompanionActions::Runner runner{QCoreApplication::applicationPid(), QDateTime::currentDateTime()};
    InstanceServer server([&model, runner](InstanceRequest request) {
        return CompanionActions::perform(model, std::move(request), runner);
    });
    if (!server.listen()) {
        std::cerr << "Unable to listen on " << InstanceServer::socketPath().toStdString() << ".\n";
        return 1;
    }
    QuitSignals quitSignals(shutDownThenQuit(model));
    model.start();
    return QCoreApplication::exec();
}

} // namespace

std::function<void()> shutDownThenQuit(CompanionModel &model)
{
    return [&model] { QCoro::connect(model.shutDown(), &model, [] { QCoreApplication::quit(); }); };
}

CompanionModelOptions modelOptions()
{
    CompanionModelOptions options;
    options.credentialStore = {CredentialStoreChoice::load, CredentialStoreChoice::save, CredentialStoreChoice::remove};
    return options;
}

int runCompanion(bool headless)
{
    return runCompanion(headless, serve);
}

int runCompanion(bool headless, const std::function<int(const InstanceLock &)> &serve)
{
    const QDeadlineTimer deadline(settleLimit);
    while (true) {
        if (const auto lock = InstanceLock::tryAcquire())
            return serve(*lock);
        if (InstanceClient::running()) {
            if (headless) {
                std::cerr << alreadyRunning << '\n';
                return 1;
            }
            const auto reply = InstanceClient::ask({InstanceRequest::Kind::show, {}, {}}, answerLimit);
            return reply ? print(*reply) : 1;
        }
        if (deadline.hasExpired()) {
            std::cerr << alreadyRunning << '\n';
            return 1;
        }
        QThread::msleep(100);
    }
}

int runCommand(const InstanceRequest &request)
{
    const QDeadlineTimer deadline(settleLimit);
    while (true) {
        if (const auto reply = InstanceClient::ask(request, answerLimit))
            return print(*reply);
        // Holding the lock keeps a companion from starting and publishing while this one acts.
        if (const auto lock = InstanceLock::tryAcquire()) {
            CompanionModel model(modelOptions());
            return print(QCoro::waitFor(CompanionActions::perform(model, request)));
        }
        if (deadline.hasExpired()) {
            std::cerr << "Orvane is running but does not answer.\n";
            return 1;
        }
        QThread::msleep(100);
    }
}

} // namespace orvane::CompanionModes
