#pragma once

#include <set>
#include <string>

// The relay command types the companion acts on. No App Server method is ever among them,
// so nothing a relay peer sends becomes an App Server request except through these three.
namespace orvane::CompanionCommandPolicy {

const std::set<std::string, std::less<>> &allowed();

} // namespace orvane::CompanionCommandPolicy
