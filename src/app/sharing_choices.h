#pragma once

#include "model/records.h"

#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The sharing choices as the command line reads and prints them: one name=value per choice,
// the names those of the JSON form, switches "on" or "off", the transcript one of its levels.
namespace orvane::SharingChoices {

// Typed text quoted back on one line: bounded, control characters shown as '?'.
std::string shown(std::string_view typed);

// "threadTitles=on", one line each (no line feed after the last), in the order of the sharing page.
std::string describe(const SharingSettings &settings);

// `settings` with every choice applied, or the text saying which choice is wrong and what is
// allowed; nothing is applied unless every choice is right.
std::variant<SharingSettings, std::string> apply(SharingSettings settings, const std::vector<std::string> &choices);

} // namespace orvane::SharingChoices
