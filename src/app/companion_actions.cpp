#include "app/companion_actions.h"

#include "companion/companion_model.h"
#include "companion/pairing_input.h"

namespace orvane::CompanionActions {

QCoro::Task<InstanceReply> perform(CompanionModel &model, InstanceRequest request)
{
    switch (request.kind) {
    case InstanceRequest::Kind::pair: {
        model.setPairingPIN(QString::fromStdString(request.pin));
        co_await model.pair();
        const QString message = model.pairingMessage();
        co_return InstanceReply{message == QString::fromUtf8(PairingInput::pairedMessage), message.toStdString()};
    }
    case InstanceRequest::Kind::unpair: {
        co_await model.unpair();
        const QString message = model.pairingMessage();
        // Local data is gone either way; a revoke that failed is still a failure to report.
        co_return InstanceReply{message != QString::fromUtf8(PairingInput::relayUnreachableMessage), message.toStdString()};
    }
    case InstanceRequest::Kind::status:
        co_return InstanceReply{true, model.debugReport()};
    case InstanceRequest::Kind::show:
        // There is no window yet to bring forward.
        co_return InstanceReply{true, {}};
    }
    co_return InstanceReply{false, "Unknown request."};
}

} // namespace orvane::CompanionActions
