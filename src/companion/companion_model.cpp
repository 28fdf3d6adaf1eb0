#include "companion/companion_model.h"

#include "companion/debug_report.h"
#include "companion/relay_base_url.h"
#include "companion/relay_command.h"
#include "companion/settings_store.h"

#include <QCoroTask>

namespace orvane {

CompanionModel::CompanionModel(CompanionModelOptions options, QObject *parent)
    : QObject(parent),
      options_(std::move(options)),
      appServer_(std::make_unique<AppServerClient>(options_.appServer)),
      relay_(std::make_unique<RelayPublisher>(RelayBaseUrl::fromEnvironment(), options_.relayTiming)),
      trigger_([this] { return refresh(); }, options_.notificationRefreshSpacing),
      snapshotAnswers_([this] { return answerSnapshotRequest(); }, RelayCommands::snapshotAnswerSpacing)
{
    // Missing or undecodable choices mean the defaults, silently and without writing them back.
    if (auto stored = SettingsStore::load())
        settings_ = *stored;

    // Credentials that do not decode leave the model unpaired; nothing is shown or deleted.
    if (const auto bytes = options_.credentialStore.load(credentialAccount)) {
        if (auto credentials = decodeText<PairingCredentials>(*bytes)) {
            credentials_ = std::move(*credentials);
            paired_ = true;
        }
    }

    installCallbacks();
    pollingTimer_.setSingleShot(true);
    connect(&pollingTimer_, &QTimer::timeout, this, &CompanionModel::poll);
}

CompanionModel::~CompanionModel()
{
    *alive_ = false;
}

void CompanionModel::installCallbacks()
{
    // Each callback only queues its work on the model's thread and returns; work queued for a
    // model that is gone is dropped with it.
    relay_->onConnection = [this](bool connected, int attempt) {
        QMetaObject::invokeMethod(
            this,
            [this, connected, attempt] {
                setRelayConnected(connected);
                setReconnectCount(attempt);
            },
            Qt::QueuedConnection);
    };
    relay_->onError = [this](const std::string &text) {
        QMetaObject::invokeMethod(this, [this, text] { setLastError(text); }, Qt::QueuedConnection);
    };
    relay_->onCommand = [this](const boost::json::object &command) {
        QMetaObject::invokeMethod(
            this, [this, command] { QCoro::connect(handleCommand(command), this, [] {}); }, Qt::QueuedConnection);
    };
    appServer_->setEventHandler([this](const std::string &method, const auto &, bool carriedId) {
        QMetaObject::invokeMethod(
            this, [this, method, carriedId] { trigger_.onMessage(method, carriedId); }, Qt::QueuedConnection);
    });
}

void CompanionModel::start()
{
    if (started_)
        return;
    started_ = true;
    if (credentials_)
        relay_->connect(*credentials_);
    poll();
}

// The wait runs from the end of one refresh to the start of the next, so polling never piles
// refreshes up.
void CompanionModel::poll()
{
    QCoro::connect(refresh(), this, [this] { pollingTimer_.start(options_.pollingInterval); });
}

void CompanionModel::setPairingPIN(const QString &pin)
{
    assign(pairingPIN_, pin, &CompanionModel::pairingPINChanged);
}

void CompanionModel::setSettings(const SharingSettings &settings)
{
    assign(settings_, settings, &CompanionModel::settingsChanged);
    persistSettings();
    applyLoginPreference();
}

void CompanionModel::persistSettings()
{
    SettingsStore::save(settings_);
}

void CompanionModel::applyLoginPreference()
{
    try {
        options_.loginItem.apply(settings_.startAtLogin);
    } catch (const LoginItem::Error &error) {
        setLastError(error.what());
    }
}

std::string CompanionModel::debugReport() const
{
    DebugFacts facts;
    facts.codexConnected = codexConnected_;
    facts.relayConnected = relayConnected_;
    facts.codexVersion = appServer_->codexVersion();
    facts.protocolVersion = AppServerClient::protocolVersion;
    facts.connectionMode = appServer_->connectionMode();
    facts.authenticationMode = authenticationMode_;
    if (credentials_)
        facts.channelId = credentials_->channelId;
    facts.reconnectCount = reconnectCount_;
    facts.eventCount = eventCount_;
    facts.lastSync = lastSync_;
    facts.lastError = lastError_;
    facts.redactionCount = redactions_.total();
    return orvane::debugReport(facts);
}

} // namespace orvane
