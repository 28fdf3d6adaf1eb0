#pragma once

#include "app/instance_request.h"

namespace orvane::CompanionModes {

// The companion itself, one per user: with --headless a second start says so and fails; a plain
// second start asks the running one to show its window and ends. Until there is a window, a
// plain start runs headless. Needs the QCoreApplication; returns the exit status.
int runCompanion(bool headless);

// --pair, --unpair and --status: on the running companion when there is one, else on a model
// of this process's own that is never started. Prints the answer; returns the exit status.
int runCommand(const InstanceRequest &request);

} // namespace orvane::CompanionModes
