#include "relay/credential_store_choice.h"

#include "relay/file_credential_store.h"
#include "relay/keychain_store.h"

#include <QtGlobal>

namespace orvane::CredentialStoreChoice {

bool usesFile()
{
    return qgetenv(environmentVariable.data()) == "file";
}

std::optional<std::string> load(std::string_view account)
{
    return usesFile() ? FileCredentialStore::load(account) : KeychainStore::load(account);
}

void save(std::string_view data, std::string_view account)
{
    if (usesFile())
        return FileCredentialStore::save(data, account);
    try {
        KeychainStore::save(data, account);
    } catch (const CredentialStoreError &error) {
        throw CredentialStoreError(std::string(error.what()) + " " + std::string(secretServiceHint));
    }
}

void remove(std::string_view account)
{
    if (usesFile())
        FileCredentialStore::remove(account);
    else
        KeychainStore::remove(account);
}

} // namespace orvane::CredentialStoreChoice
