#pragma once

#include "app/instance_request.h"

#include <QCoroTask>

namespace orvane {

class CompanionModel;

namespace CompanionActions {

// Carries out a command-line request on a model, the running one or one of the asker's own:
// pair with the PIN (succeeds when the model says it paired), unpair, report, show.
QCoro::Task<InstanceReply> perform(CompanionModel &model, InstanceRequest request);

} // namespace CompanionActions
} // namespace orvane
