#pragma once

#include "app/instance_request.h"

#include <chrono>
#include <optional>

namespace orvane::InstanceClient {

// True when a companion listens on the instance socket.
bool running();

// Sends the request to the running companion and waits up to `limit` for its answer. Nothing
// when no companion listens; a failure when one took the request but gave no answer, since
// the request may have been carried out. Blocks; needs no event loop.
std::optional<InstanceReply> ask(const InstanceRequest &request, std::chrono::milliseconds limit);

} // namespace orvane::InstanceClient
