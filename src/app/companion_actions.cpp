#include "app/companion_actions.h"

#include "app/pretty_json.h"
#include "app/sharing_choices.h"
#include "companion/companion_model.h"
#include "companion/pairing_input.h"
#include "model/record_json.h"

namespace orvane::CompanionActions {
namespace {

std::string relayText(const CompanionModel &model)
{
    return model.relay().baseURL().toDisplayString(QUrl::RemoveUserInfo).toStdString();
}

std::string pidText(const Runner &runner)
{
    return "pid " + std::to_string(runner.runningPid.value_or(0));
}

InstanceReply sharing(CompanionModel &model, const std::vector<std::string> &choices)
{
    if (choices.empty())
        return {true, SharingChoices::describe(model.settings())};
    auto changed = SharingChoices::apply(model.settings(), choices);
    if (const auto *problem = std::get_if<std::string>(&changed))
        return {false, *problem};
    model.setSettings(std::get<SharingSettings>(changed));
    return {true, SharingChoices::describe(model.settings())};
}

} // namespace

std::string presenceLine(const CompanionModel &model, const Runner &runner)
{
    if (!runner.runningPid)
        return "Orvane is not running; this report is of a fresh start, with the relay at " + relayText(model) + ".";
    return "Orvane is running (" + pidText(runner) + ", since "
           + runner.since.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString() + " UTC), with the relay at "
           + relayText(model) + ".";
}

QCoro::Task<InstanceReply> perform(CompanionModel &model, InstanceRequest request, Runner runner)
{
    switch (request.kind) {
    case InstanceRequest::Kind::pair: {
        model.setPairingPIN(QString::fromStdString(request.pin));
        co_await model.pair();
        const QString message = model.pairingMessage();
        std::string text = message.toStdString();
        // The running companion's relay, which may not be the one the asker's shell names; a PIN
        // of the wrong length never reached it.
        if (runner.runningPid && message != QString::fromUtf8(PairingInput::wrongLengthMessage))
            text += "\nThrough the running companion (" + pidText(runner) + "), with its relay at " + relayText(model) + ".";
        co_return InstanceReply{message == QString::fromUtf8(PairingInput::pairedMessage), text};
    }
    case InstanceRequest::Kind::unpair: {
        co_await model.unpair();
        const QString message = model.pairingMessage();
        // Local data is gone either way; a revoke that failed is still a failure to report.
        co_return InstanceReply{message != QString::fromUtf8(PairingInput::relayUnreachableMessage), message.toStdString()};
    }
    case InstanceRequest::Kind::status:
        co_return InstanceReply{true, presenceLine(model, runner) + "\n" + model.debugReport()};
    case InstanceRequest::Kind::show:
        // There is no window yet to bring forward.
        co_return InstanceReply{true, "Orvane is already running headless (" + pidText(runner) + "). See orvane --status."};
    case InstanceRequest::Kind::sharing:
        co_return sharing(model, request.choices);
    case InstanceRequest::Kind::snapshot:
        if (!model.lastSync())
            co_await model.refresh();
        co_return InstanceReply{true, prettyJson(boost::json::value_from(model.upcomingSnapshot()))};
    }
    co_return InstanceReply{false, "Unknown request."};
}

} // namespace orvane::CompanionActions
