#pragma once

#include "app/instance_request.h"

#include <QCoroTask>
#include <QDateTime>

#include <optional>

namespace orvane {

class CompanionModel;

namespace CompanionActions {

// Who carries a request out: the running companion (its process id and start), or, when
// none runs, the asker on a model of its own that never starts.
struct Runner {
    std::optional<qint64> runningPid;
    QDateTime since;
};

// Carries out a command-line request on a model: pair with the PIN (succeeds when the model
// says it paired), unpair, report, show, read or change the sharing choices, or show the
// snapshot the glasses would get next (after one refresh when the model has none yet). The
// running companion also says which relay a pairing used and that it runs.
QCoro::Task<InstanceReply> perform(CompanionModel &model, InstanceRequest request, Runner runner = {});

// The running companion's first line of --status; the fresh start's when none runs.
std::string presenceLine(const CompanionModel &model, const Runner &runner);

} // namespace CompanionActions
} // namespace orvane
