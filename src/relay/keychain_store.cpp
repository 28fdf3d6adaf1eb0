#include "relay/keychain_store.h"

#include <libsecret/secret.h>

#include <memory>

namespace orvane::KeychainStore {
namespace {

const SecretSchema *schema()
{
    // Matched on the attributes alone, so items written by other tools are found too.
    static const SecretSchema instance = [] {
        SecretSchema value{};
        value.name = "dev.orvane.companion";
        value.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        value.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        value.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return value;
    }();
    return &instance;
}

struct ErrorFree {
    void operator()(GError *error) const { g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

// The service's own words, without the D-Bus error name in front; an absent service is said
// plainly, since the D-Bus wording ("not provided by any .service files") helps nobody.
std::string describe(GError *error)
{
    const bool absent = error->domain == G_DBUS_ERROR &&
                        (error->code == G_DBUS_ERROR_SERVICE_UNKNOWN || error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER ||
                         (error->code >= G_DBUS_ERROR_SPAWN_EXEC_FAILED && error->code <= G_DBUS_ERROR_SPAWN_FILE_INVALID));
    if (absent)
        return "no Secret Service is running (for example gnome-keyring or KeePassXC)";
    if (g_dbus_error_is_remote_error(error))
        g_dbus_error_strip_remote_error(error);
    return error->message;
}

} // namespace

std::optional<std::string> load(std::string_view account)
{
    const std::string name(account);
    GError *raw = nullptr;
    SecretValue *value = secret_password_lookup_binary_sync(
        schema(), nullptr, &raw, "service", service.data(), "account", name.c_str(), nullptr);
    const Error error(raw);
    if (!value)
        return std::nullopt;
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    std::string data(bytes, length);
    secret_value_unref(value);
    return data;
}

void save(std::string_view data, std::string_view account)
{
    const std::string name(account);
    remove(account);
    SecretValue *value = secret_value_new(data.data(), static_cast<gssize>(data.size()),
                                          "application/octet-stream");
    const std::string label = "Orvane companion (" + name + ")";
    GError *raw = nullptr;
    const gboolean stored = secret_password_store_binary_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value, nullptr, &raw,
        "service", service.data(), "account", name.c_str(), nullptr);
    secret_value_unref(value);
    const Error error(raw);
    if (!stored)
        throw CredentialStoreError("Unable to keep the pairing in the system's credential store: " +
                                   (error ? describe(error.get()) : std::string("it gave no reason")) + ".");
}

void remove(std::string_view account)
{
    const std::string name(account);
    GError *raw = nullptr;
    secret_password_clear_sync(schema(), nullptr, &raw, "service", service.data(), "account",
                               name.c_str(), nullptr);
    const Error error(raw);
}

} // namespace orvane::KeychainStore
