#pragma once

#include "app/instance_lock.h"
#include "app/instance_request.h"
#include "companion/companion_model.h"

#include <functional>

namespace orvane::CompanionModes {

// The companion itself, one per user: with --headless a second start says so and fails; a plain
// second start asks the running one to show its window and ends. A plain
// start without a display runs headless. Needs the QCoreApplication; returns the exit status.
int runCompanion(bool headless);
// The same, with `serve` running the companion while this process holds the lock.
int runCompanion(bool headless, const std::function<int(const InstanceLock &)> &serve);

// The running companion's model: its pairing kept where the user chose.
CompanionModelOptions modelOptions();

// What a quit signal does to the running companion: shut the model down, then leave the loop.
std::function<void()> shutDownThenQuit(CompanionModel &model);

// --pair, --unpair and --status: on the running companion when there is one, else on a model
// of this process's own that is never started. Prints the answer; returns the exit status.
int runCommand(const InstanceRequest &request);

} // namespace orvane::CompanionModes
