// The model's own state: the stored choices and credentials, the relay address and the debug
// report. Pairing and unpairing are headless_instance_test's and companion_window_test's.
#include "companion_harness.h"

#include "companion/relay_base_url.h"
#include "companion/settings_store.h"
#include "relay/keychain_store.h"

#include <waits.h>
#include <gtest/gtest.h>

#include <sstream>

namespace orvane::test {
namespace {

struct RelayUrl {
    explicit RelayUrl(const QUrl &url) { qputenv("ORVANE_RELAY_URL", url.toString().toUtf8()); }
    ~RelayUrl() { qunsetenv("ORVANE_RELAY_URL"); }
};

// Reading broken records is records_test's, the report's lines orvane_companion_rules_test's,
// the message of a relay out of reach hostile_relay_test's.
TEST(CompanionLocalState, StartsFromWhatIsStoredAndForgetsItAll)
{
    {
        CompanionModel fresh(testOptions());
        EXPECT_EQ(fresh.settings(), SharingSettings{});
        EXPECT_FALSE(fresh.paired());
    }
    EXPECT_FALSE(SettingsStore::load()); // nothing written without a change

    SharingSettings changed;
    changed.usageMetrics = false;
    SettingsStore::save(changed);
    const PairingCredentials credentials{"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D", std::string(40, 'k')};
    KeychainStore::save(encode(credentials), CompanionModel::credentialAccount);
    RelayUrl nowhere(QUrl(QString("http://127.0.0.1:9")));
    CompanionModel model(testOptions());
    EXPECT_EQ(model.settings(), changed);
    EXPECT_TRUE(model.paired());
    EXPECT_EQ(model.debugReport().find(std::string(40, 'k')), std::string::npos);

    // No relay listens: removed here all the same.
    awaitTask(model.clearLocalData());
    EXPECT_EQ(SettingsStore::load(), SharingSettings{});
    EXPECT_FALSE(model.paired());
    EXPECT_FALSE(KeychainStore::load(CompanionModel::credentialAccount));
    EXPECT_TRUE(model.threads().empty());
    EXPECT_TRUE(model.pairingMessage().startsWith("Pairing removed from this computer")) << model.pairingMessage().toStdString();
}

TEST(CompanionRelayUrl, RefusesWhatIsNoAbsoluteUrlWithOneLine)
{
    const auto fallback = RelayBaseUrl::fallback();
    EXPECT_EQ(fallback, QUrl(QString("http://127.0.0.1:8787")));
    const auto table = fixture("relay-urls.json");
    for (const auto &row : table.at("rows").as_array()) {
        const auto &configured = row.at(0), &chosen = row.at(1);
        const auto label = json::serialize(configured);
        std::ostringstream errors;
        const auto used = RelayBaseUrl::choose(
            configured.is_null() ? std::nullopt : std::optional(QString::fromStdString(std::string(configured.as_string()))), errors);
        EXPECT_EQ(used, chosen.is_null() ? fallback : QUrl(QString::fromStdString(std::string(chosen.as_string())))) << label;
        const auto text = errors.str();
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), chosen.is_null() ? 1 : 0) << label;
        EXPECT_EQ(text.find("ORVANE_RELAY_URL") != std::string::npos, chosen.is_null()) << label;
    }
    RelayUrl refused(QUrl(QString("no-scheme")));
    EXPECT_EQ(CompanionModel(testOptions()).relay().baseURL(), fallback);
}

} // namespace
} // namespace orvane::test
