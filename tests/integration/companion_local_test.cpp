// The model's own state: pairing through orvane-relay, the stored choices and credentials,
// start at login, the relay address and the debug report.
#include "companion_harness.h"

#include "companion/relay_base_url.h"
#include "companion/settings_store.h"
#include "relay/keychain_store.h"

#include <waits.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>
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

// "12 3-456" for "123456", or its digits in Arabic-Indic.
QString retyped(QString pin, bool arabicIndic)
{
    if (!arabicIndic)
        return pin.insert(3, '-').insert(2, ' ');
    for (QChar &digit : pin)
        digit = QChar(0x0660 + digit.digitValue());
    return pin;
}

struct RelayUrl {
    explicit RelayUrl(const QUrl &url) { qputenv("ORVANE_RELAY_URL", url.toString().toUtf8()); }
    ~RelayUrl() { qunsetenv("ORVANE_RELAY_URL"); }
};

TEST(CompanionPairing, TakesSixDigitsOfAnyScriptAndReplacesAndRemovesThePairing)
{
    LocalRelay relay;
    relay.start();
    RelayUrl url(relay.baseUrl());
    CompanionModel model(testOptions());

    const char *const wrongLength = "Enter the six digits shown on the glasses.";
    const std::pair<const char *, const char *> refused[]{
        {"12 34-5", wrongLength}, {"1234567", wrongLength}, {"", wrongLength}, {"000-000", "This PIN is unknown or has expired."}};
    for (const auto &[typed, expected] : refused) {
        model.setPairingPIN(typed);
        awaitTask(model.pair());
        EXPECT_EQ(message(model), expected) << typed;
    }
    EXPECT_FALSE(model.paired());
    EXPECT_FALSE(stored());

    std::optional<PairingCredentials> previous;
    for (const auto &typed : {retyped(relay.issuePin(), false), retyped(relay.issuePin(), true)}) {
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

TEST(CompanionLocalState, StartsFromDefaultsOrWhatIsStoredAndForgetsItAll)
{
    {
        CompanionModel fresh(testOptions());
        EXPECT_EQ(fresh.settings(), SharingSettings{});
        EXPECT_FALSE(fresh.paired());
        const auto report = fresh.debugReport();
        EXPECT_TRUE(report.ends_with("\nPairing: none\nReconnects: 0\nEvents: 0\nLast sync: never\nLast error: none"))
            << report;
        awaitTask(fresh.unpair());
        EXPECT_EQ(message(fresh), "Nothing was paired; nothing to remove.");
        EXPECT_FALSE(fresh.paired());
    }
    EXPECT_FALSE(SettingsStore::load()); // nothing written without a change

    // A record missing one field, and credentials that are not JSON: defaults, unpaired, quiet.
    SharingSettings changed;
    changed.usageMetrics = false;
    changed.threadTitles = false;
    auto record = json::value_from(changed).as_object();
    record.erase("usageMetrics");
    QSettings("dev.orvane", "companion").setValue("sharingSettings", QByteArray::fromStdString(json::serialize(record)));
    KeychainStore::save("{\"channelId\":", CompanionModel::credentialAccount);
    {
        CompanionModel model(testOptions());
        EXPECT_EQ(model.settings(), SharingSettings{});
        EXPECT_FALSE(model.paired());
        EXPECT_FALSE(model.lastError());
    }

    // Stored choices and credentials are taken; the report shortens the channel.
    SettingsStore::save(changed);
    const PairingCredentials credentials{"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D", std::string(40, 'k')};
    KeychainStore::save(encode(credentials), CompanionModel::credentialAccount);
    RelayUrl nowhere(QUrl(QString("http://127.0.0.1:9")));
    CompanionModel model(testOptions());
    EXPECT_EQ(model.settings(), changed);
    EXPECT_TRUE(model.paired());
    EXPECT_NE(model.debugReport().find("\nPairing: 0A1B2C3D\u2026\n"), std::string::npos);
    EXPECT_EQ(model.debugReport().find(std::string(40, 'k')), std::string::npos);

    awaitTask(model.clearLocalData());
    EXPECT_EQ(model.settings(), SharingSettings{});
    EXPECT_EQ(SettingsStore::load(), SharingSettings{});
    EXPECT_FALSE(model.paired());
    EXPECT_FALSE(stored());
    EXPECT_TRUE(model.threads().empty());
    EXPECT_FALSE(model.lastError());
    // No relay listens: removed here, and the message says the relay still has it.
    EXPECT_EQ(message(model), "Pairing removed from this computer, but the relay could not be reached to delete it; "
                              "the glasses may keep showing the last snapshot.");
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
    const std::pair<std::optional<QString>, QUrl> rows[]{ // what is configured, what is used
        {std::nullopt, fallback},
        {"https://relay.example:9443/base", QUrl("https://relay.example:9443/base")},
        {"relay.example", {}}, {"http://", {}}, {"", {}}, {"http://exa mple.com", {}},
        // The publisher token travels in clear only to this computer.
        {"http://relay.example", {}}, {"ws://127.0.0.1:1", {}}, {"ftp://relay.example", {}},
        {"http://LocalHost:1/x", QUrl("http://LocalHost:1/x")}, {"http://[::1]:5", QUrl("http://[::1]:5")},
        {"http://127.0.0.2", QUrl("http://127.0.0.2")}};
    for (const auto &[configured, chosen] : rows) {
        std::ostringstream errors;
        const auto label = configured.value_or("<unset>").toStdString();
        EXPECT_EQ(RelayBaseUrl::choose(configured, errors), chosen.isEmpty() ? fallback : chosen) << label;
        const auto text = errors.str();
        const bool refused = chosen.isEmpty();
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), refused ? 1 : 0) << label;
        EXPECT_EQ(text.find("ORVANE_RELAY_URL") != std::string::npos, refused) << label;
    }
    RelayUrl refused(QUrl(QString("no-scheme")));
    CompanionModel model(testOptions());
    EXPECT_EQ(model.relay().baseURL(), fallback);
}

} // namespace
} // namespace orvane::test
