#pragma once

#include "model/records.h"

#include <optional>

namespace orvane {

// The sharing choices in the user's preferences: the JSON form of SharingSettings under
// "sharingSettings", organization "dev.orvane", application "companion".
namespace SettingsStore {

// Nothing when missing or when the stored bytes do not decode (a missing field included).
std::optional<SharingSettings> load();

// Replaces the stored choices.
void save(const SharingSettings &settings);

void remove();

} // namespace SettingsStore
} // namespace orvane
