// Commands from the glasses: only the allowlisted ones, well-formed and unexpired.
#include "companion/companion_model.h"

#include "companion/relay_command.h"

namespace orvane {

QCoro::Task<void> CompanionModel::handleCommand(boost::json::object object)
{
    const AliveToken alive = alive_;
    const auto now = DateFormatting::Clock::now();
    const auto command = RelayCommands::accept(object, now);
    if (!command || !seenCommands_.admit(command->commandId, command->expiresAt, now))
        co_return;
    switch (command->kind) {
    case RelayCommand::Kind::requestSnapshot:
        // The snapshot is the answer; a flood of requests is answered a few times a second.
        snapshotAnswers_.request();
        Q_EMIT commandHandled("request_snapshot", {}, {}, {});
        co_return;
    case RelayCommand::Kind::markNotificationSeen:
        Q_EMIT commandHandled("mark_notification_seen", {}, {}, {});
        co_return;
    case RelayCommand::Kind::stopThread:
        break;
    }

    const auto answer = [this, &command](std::string_view status, std::string_view message) {
        sendCommandResult(command->commandId, status, message);
        Q_EMIT commandHandled("stop_thread", command->threadId, std::string(status), std::string(message));
    };
    const auto turn = activeTurns_.find(command->threadId);
    if (turn == activeTurns_.end()) {
        answer(RelayCommands::statusUnsupported, RelayCommands::noActiveTurnMessage);
        co_return;
    }
    std::optional<std::string> failure;
    try {
        co_await appServer_->interrupt(command->threadId, turn->second);
    } catch (const std::exception &error) {
        failure = error.what();
    }
    if (!*alive)
        co_return;
    if (failure) {
        answer(RelayCommands::statusFailed, RelayCommands::stopFailedMessage(*failure));
        co_return;
    }
    answer(RelayCommands::statusSucceeded, RelayCommands::stopRequestedMessage);
    // Coalesced with the refreshes Codex's own messages start, so a flood of stops cannot
    // start a refresh (and its git runs) each.
    trigger_.request();
}

QCoro::Task<void> CompanionModel::answerSnapshotRequest()
{
    publishSnapshot();
    co_return;
}

} // namespace orvane
