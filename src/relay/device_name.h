#pragma once

#include <string>
#include <string_view>

// The computer's name as the relay's authenticate message carries it.
namespace orvane::DeviceName {

// What the user named the machine (PRETTY_HOSTNAME in /etc/machine-info), else its host name,
// else "Mac companion".
std::string localized();

// The same choice over the text of a machine-info file and a host name.
std::string choose(std::string_view machineInfo, std::string_view hostName);

} // namespace orvane::DeviceName
