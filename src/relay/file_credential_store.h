#pragma once

#include "relay/credential_store_error.h"

#include <QString>

#include <optional>
#include <string>
#include <string_view>

// The pairing credentials' home on a machine without a Secret Service, chosen only when the user
// sets ORVANE_CREDENTIAL_STORE=file: one JSON object in $XDG_CONFIG_HOME/orvane/credentials.json
// mapping each account to its data, in a directory only the user can enter (0700), in a file
// only the user can read (0600), replaced atomically so a crash never leaves half a file.
// Same calls as KeychainStore; no caching, every call reads the file.
namespace orvane::FileCredentialStore {

QString path();

// Nothing when there is no file, no item, or the file cannot be read or parsed.
std::optional<std::string> load(std::string_view account);

// Replaces the account's item, keeping the others. Throws CredentialStoreError when the file
// cannot be written.
void save(std::string_view data, std::string_view account);

// Removes the account's item (and the file once it holds nothing); failures are quiet.
void remove(std::string_view account);

} // namespace orvane::FileCredentialStore
