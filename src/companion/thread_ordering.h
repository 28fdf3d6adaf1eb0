#pragma once

#include "model/records.h"

#include <vector>

// The display order of threads: what is running first, then the most recently updated.
namespace orvane::ThreadOrdering {

// Every state but finished, failed, stopped and unknown.
bool isActive(ThreadState state);

// Active threads first, then by `updatedAt` descending (the timestamp text sorts in time
// order); ties keep their order, which is the App Server's list order. The first thread is
// the current one.
void sortForDisplay(std::vector<ThreadView> &threads);

} // namespace orvane::ThreadOrdering
