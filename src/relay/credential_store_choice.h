#pragma once

#include "relay/credential_store_error.h"

#include <optional>
#include <string>
#include <string_view>

// Where the companion keeps its pairing: the Secret Service (KeychainStore), or the private file
// (FileCredentialStore) when ORVANE_CREDENTIAL_STORE is "file". The variable is read on every
// call. A Secret Service that cannot keep the item is reported, never silently replaced by the
// file: its error then says how to get one or how to choose the file.
namespace orvane::CredentialStoreChoice {

inline constexpr std::string_view environmentVariable = "ORVANE_CREDENTIAL_STORE";
inline constexpr std::string_view secretServiceHint =
    "Start a Secret Service such as gnome-keyring, or set ORVANE_CREDENTIAL_STORE=file to keep the pairing in a private file.";

bool usesFile();

std::optional<std::string> load(std::string_view account);
// Throws CredentialStoreError.
void save(std::string_view data, std::string_view account);
void remove(std::string_view account);

} // namespace orvane::CredentialStoreChoice
