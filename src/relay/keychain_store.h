#pragma once

#include "relay/credential_store_error.h"

#include <optional>
#include <string>
#include <string_view>

// The pairing credentials' home: one item per account in the freedesktop Secret Service
// (libsecret), under the attributes service = "dev.orvane.companion" and account, matched on
// those alone, so `secret-tool lookup service dev.orvane.companion account relay-publisher`
// finds it. Items go to the default (login) collection: unlocked at login, never synced.
// The store keeps bytes; their meaning belongs to the caller. Calls block briefly on D-Bus.
namespace orvane::KeychainStore {

inline constexpr std::string_view service = "dev.orvane.companion";

// Nothing when there is no item or the store cannot be read (no service, locked, denied).
std::optional<std::string> load(std::string_view account);

// Replaces the account's item. Throws CredentialStoreError when the store refuses.
void save(std::string_view data, std::string_view account);

// Removes the account's item; a missing item or an unreachable store is not an error.
void remove(std::string_view account);

} // namespace orvane::KeychainStore
