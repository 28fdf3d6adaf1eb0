// The model's own state: pairing through orvane-relay, the stored choices and credentials,
// start at login, the relay address and the debug report.
#include "companion_harness.h"

#include "companion/relay_base_url.h"
#include "companion/settings_store.h"
#include "relay/keychain_store.h"

#include <waits.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <sstream>

namespace orvane::test {
namespace {

std::string message(const CompanionModel &model)
{
    return model.pairingMessage().toStdString();
}

std::optional<PairingCredentials> stored()
{
    const auto bytes = KeychainStore::load(CompanionModel::credentialAccount);
    return bytes ? decodeText<PairingCredentials>(*bytes) : std::nullopt;
}

struct RelayUrl {
    explicit RelayUrl(const QUrl &url) { qputenv("ORVANE_RELAY_URL", url.toString().toUtf8()); }
    ~RelayUrl() { qunsetenv("ORVANE_RELAY_URL"); }
};

// What is typed is PairingInput's (orvane_companion_rules_test) and the relay's answers are
// relay_publisher_test's; here, what the model keeps of them.
TEST(CompanionPairing, ReplacesAndRemovesThePairingAndKeepsNothingTheStoreRefused)
{
    LocalRelay relay;
    RelayUrl url(relay.baseUrl());
    CompanionModel model(testOptions());
    std::optional<PairingCredentials> previous;
    for (const auto &typed : {relay.issuePin(), relay.issuePin()}) {
        model.setPairingPIN(typed);
        awaitTask(model.pair());
        EXPECT_EQ(message(model), "Paired. Your glasses will update in a moment.");
        EXPECT_TRUE(model.paired());
        EXPECT_EQ(model.pairingPIN(), typed);
        ASSERT_TRUE(stored());
        EXPECT_EQ(stored(), model.relay().credentials());
        EXPECT_NE(stored(), previous);
        previous = stored();
        EXPECT_TRUE(waitUntil([&] { return model.relayConnected(); }));
    }
    EXPECT_GE(model.eventCount(), 1);

    awaitTask(model.unpair());
    EXPECT_EQ(message(model), "Pairing removed and relay data deleted.");
    EXPECT_FALSE(model.paired());
    EXPECT_FALSE(model.relayConnected());
    EXPECT_TRUE(model.pairingPIN().isEmpty());
    EXPECT_FALSE(stored());
    EXPECT_FALSE(model.relay().credentials());
    // The relay ended the channel: its publisher token opens nothing any more.
    EXPECT_FALSE(TestSocket().authenticate(socketUrl(relay.baseUrl(), previous->channelId.c_str()), "publisher",
                                           previous->publisherToken.c_str()));

    // A store that refuses to save.
    auto options = testOptions();
    options.credentialStore.save = [](std::string_view, std::string_view) {
        throw CredentialStoreError("Unable to keep the pairing in the system's credential store: refused");
    };
    CompanionModel refusing(options);
    refusing.setPairingPIN(relay.issuePin());
    awaitTask(refusing.pair());
    EXPECT_EQ(message(refusing), "Unable to keep the pairing in the system's credential store: refused");
    EXPECT_FALSE(refusing.paired());
    EXPECT_FALSE(refusing.relay().credentials());
}

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
    EXPECT_FALSE(stored());
    EXPECT_TRUE(model.threads().empty());
    EXPECT_TRUE(message(model).starts_with("Pairing removed from this computer")) << message(model);
}

TEST(CompanionLocalState, AppliesStartAtLoginAfterStoringEachChange)
{
    QTemporaryDir home;
    const QString folder = home.filePath("autostart");
    const QString installed = home.filePath("orvane");
    for (const QString &path : {installed, folder}) {
        QFile file(path); // the installed program, and a file where the folder should be
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    auto options = testOptions();
    options.loginItem = LoginItem(folder, installed, installed);
    CompanionModel model(options);
    SharingSettings settings;
    settings.startAtLogin = true;
    model.setSettings(settings);
    ASSERT_TRUE(model.lastError());
    EXPECT_TRUE(model.lastError()->starts_with("Start at login could not be changed: ")) << *model.lastError();
    EXPECT_EQ(SettingsStore::load(), settings); // stored before applying
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
