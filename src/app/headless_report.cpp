#include "app/headless_report.h"

#include "app/headless_lines.h"
#include "companion/companion_model.h"
#include "normalize/terminal_text.h"

#include <QTime>

#include <algorithm>

namespace orvane {
namespace {

// Titles and errors are free text; each stays on its one line.
std::string oneLine(std::string text)
{
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
    return text;
}

std::optional<std::string> threadLine(const std::optional<ThreadView> &thread)
{
    if (!thread)
        return std::nullopt;
    std::string line = "Thread \"" + oneLine(thread->title) + "\"";
    if (thread->activityText)
        line += ": " + oneLine(*thread->activityText);
    return line;
}

} // namespace

HeadlessReport::HeadlessReport(const CompanionModel &model, std::ostream &out) : model_(model), out_(out)
{
    pending_.setSingleShot(true);
    pending_.setInterval(0);
    QObject::connect(&pending_, &QTimer::timeout, this, &HeadlessReport::report);
    const auto schedule = [this] { pending_.start(); };
    // Codex counts as decided once a refresh has said connected or not.
    QObject::connect(&model, &CompanionModel::codexConnectedChanged, this, [this, schedule] {
        codexDecided_ = true;
        schedule();
    });
    for (auto signal : {&CompanionModel::relayConnectedChanged, &CompanionModel::pairedChanged,
                        &CompanionModel::currentThreadChanged, &CompanionModel::lastErrorChanged})
        QObject::connect(&model, signal, this, schedule);
    // The first thread list is summed up, not told thread by thread.
    QObject::connect(&model, &CompanionModel::threadsChanged, this, [this, schedule] {
        threadsListed_ = true;
        schedule();
    });
    QObject::connect(&model, &CompanionModel::commandHandled, this,
                     [this](const std::string &type, const std::string &threadId, const std::string &status,
                            const std::string &message) {
                         print(HeadlessLines::command(type, threadId, status, message, model_.threads()));
                     });
    // The pairing is told at once; the rest starts from the model's initial state.
    schedule();
}

void HeadlessReport::report()
{
    const std::optional<std::string> &error = model_.lastError();
    bool errorTold = false;

    if (paired_ != model_.paired()) {
        paired_ = model_.paired();
        print(*paired_ ? "Paired." : "Not paired.");
    }

    if (codexDecided_ && codexConnected_ != model_.codexConnected()) {
        codexConnected_ = model_.codexConnected();
        if (*codexConnected_) {
            print("Codex connected.");
        } else if (error) {
            print("Codex not connected: " + oneLine(*error));
            errorTold = true;
        } else {
            print("Codex not connected.");
        }
    }
    if (model_.codexConnected() && connectionMode_ != model_.appServer().connectionMode()) {
        connectionMode_ = model_.appServer().connectionMode();
        print(HeadlessLines::connectionMode(*connectionMode_));
    }
    // Each try the relay publisher scheduled after a failure is told with its reason and wait.
    const RelayPublisher &relay = model_.relay();
    const bool retrying = !model_.relayConnected() && relay.reconnectAttempt() > reconnectAttempt_;
    reconnectAttempt_ = relay.reconnectAttempt();
    if (relayConnected_ != model_.relayConnected()) {
        relayConnected_ = model_.relayConnected();
        if (relayConnected_ || !retrying)
            print(relayConnected_ ? "Relay connected." : "Relay not connected.");
    }
    if (retrying) {
        print(HeadlessLines::relayRetry(relay.lastFailure(), relay.nextReconnectDelay()));
        errorTold = error == relay.lastFailure();
    }
    if (!summarized_ && threadsListed_) {
        summarized_ = true;
        print(HeadlessLines::summary(model_.threads(), model_.currentThread()));
        thread_ = threadLine(model_.currentThread());
    }
    if (const auto thread = threadLine(model_.currentThread()); summarized_ && thread != thread_) {
        print(thread ? *thread : "No current thread.");
        thread_ = thread;
    }
    // A cleared error prints nothing; the same error coming back is told again.
    if (error != error_) {
        if (error && !errorTold)
            print("Error: " + oneLine(*error));
        error_ = error;
    }
}

void HeadlessReport::print(const std::string &line)
{
    out_ << QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString() << ' ' << TerminalText::line(line)
         << std::endl;
}

} // namespace orvane
