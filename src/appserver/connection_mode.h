#pragma once
#include "appserver/message_framing.h"

#include <memory>
#include <string>

namespace orvane {

// How the App Server child was started.
enum class ConnectionMode { dedicatedStdio, managedDaemonProxy };

std::string connectionModeLabel(ConnectionMode mode);

// The framing each way of starting the child speaks over its standard input and output.
std::unique_ptr<MessageFraming> makeFraming(ConnectionMode mode);

}
