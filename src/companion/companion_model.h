#pragma once

#include "appserver/app_server_client.h"
#include "companion/account_reads.h"
#include "companion/command_replay_guard.h"
#include "companion/desktop_notifier.h"
#include "companion/login_item.h"
#include "companion/redaction_tally.h"
#include "companion/refresh_trigger.h"
#include "companion/thread_cache.h"
#include "model/records.h"
#include "relay/keychain_store.h"
#include "relay/relay_publisher.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <QCoroTask>

#include <boost/json/object.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// Where the pairing credentials are kept; the system's Secret Service unless replaced.
struct CredentialStore {
    std::function<std::optional<std::string>(std::string_view account)> load = KeychainStore::load;
    std::function<void(std::string_view data, std::string_view account)> save = KeychainStore::save;
    std::function<void(std::string_view account)> remove = KeychainStore::remove;
};

// The waits and neighbours of a model; the defaults are those of the running companion.
struct CompanionModelOptions {
    std::chrono::milliseconds pollingInterval{std::chrono::seconds(4)};
    std::chrono::milliseconds notificationRefreshSpacing{std::chrono::seconds(1)};
    // How often a companion on a dedicated child asks again whether the daemon runs: 25 s,
    // so that with the 4 s poll and the probe's own second it moves within 30 s of a start.
    std::chrono::milliseconds daemonRecheckInterval{std::chrono::seconds(25)};
    AppServerClientOptions appServer;
    RelayPublisher::Timing relayTiming;
    CredentialStore credentialStore;
    LoginItem loginItem;
};

// The companion's one coordinator: owns the App Server client and the relay publisher, keeps
// the sharing choices and the pairing, refreshes Codex's state every few seconds and mirrors
// it to the glasses. Lives on the GUI thread; every property's change signal is emitted on
// each assignment, also of an equal value, so views and the headless printer see every update.
class CompanionModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool codexConnected READ codexConnected NOTIFY codexConnectedChanged)
    Q_PROPERTY(bool relayConnected READ relayConnected NOTIFY relayConnectedChanged)
    Q_PROPERTY(bool paired READ paired NOTIFY pairedChanged)
    Q_PROPERTY(std::optional<orvane::ThreadView> currentThread READ currentThread NOTIFY currentThreadChanged)
    Q_PROPERTY(std::vector<orvane::ThreadView> threads READ threads NOTIFY threadsChanged)
    Q_PROPERTY(std::optional<orvane::UsageView> usage READ usage NOTIFY usageChanged)
    Q_PROPERTY(std::optional<std::chrono::system_clock::time_point> lastSync READ lastSync NOTIFY lastSyncChanged)
    Q_PROPERTY(std::optional<std::string> lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(int reconnectCount READ reconnectCount NOTIFY reconnectCountChanged)
    Q_PROPERTY(qint64 eventCount READ eventCount NOTIFY eventCountChanged)
    Q_PROPERTY(QString pairingPIN READ pairingPIN WRITE setPairingPIN NOTIFY pairingPINChanged)
    Q_PROPERTY(QString pairingMessage READ pairingMessage NOTIFY pairingMessageChanged)
    Q_PROPERTY(orvane::SharingSettings settings READ settings WRITE setSettings NOTIFY settingsChanged)

public:
    using Moment = std::chrono::system_clock::time_point;

    static constexpr std::string_view credentialAccount = "relay-publisher";
    static constexpr std::int64_t threadLimit = 20;

    explicit CompanionModel(CompanionModelOptions options = {}, QObject *parent = nullptr);
    ~CompanionModel() override;

    // Hands stored credentials to the relay and starts polling; later calls do nothing.
    void start();
    // Stops polling and closes the relay socket with a close frame (waiting briefly for the
    // relay's answer); the App Server children end with the model.
    QCoro::Task<void> shutDown();
    // One refresh cycle; never throws, every failure ends in the model's state.
    QCoro::Task<void> refresh();

    QCoro::Task<void> pair();
    QCoro::Task<void> unpair();
    QCoro::Task<void> clearLocalData();
    std::string debugReport() const;
    // The snapshot the next publishing would send, paired or not; sends nothing.
    GlassesSnapshot upcomingSnapshot() const;

    bool codexConnected() const { return codexConnected_; }
    bool relayConnected() const { return relayConnected_; }
    bool paired() const { return paired_; }
    const std::optional<ThreadView> &currentThread() const { return currentThread_; }
    const std::vector<ThreadView> &threads() const { return threads_; }
    const std::optional<UsageView> &usage() const { return usage_; }
    const std::optional<Moment> &lastSync() const { return lastSync_; }
    const std::optional<std::string> &lastError() const { return lastError_; }
    int reconnectCount() const { return reconnectCount_; }
    qint64 eventCount() const { return eventCount_; }
    const QString &pairingPIN() const { return pairingPIN_; }
    const QString &pairingMessage() const { return pairingMessage_; }
    const SharingSettings &settings() const { return settings_; }
    const std::string &authenticationMode() const { return authenticationMode_; }

    void setPairingPIN(const QString &pin);
    // Stores the whole record, then applies the start-at-login choice.
    void setSettings(const SharingSettings &settings);

    const AppServerClient &appServer() const { return *appServer_; }
    const RelayPublisher &relay() const { return *relay_; }

Q_SIGNALS:
    void codexConnectedChanged();
    void relayConnectedChanged();
    void pairedChanged();
    void currentThreadChanged();
    void threadsChanged();
    void usageChanged();
    void lastSyncChanged();
    void lastErrorChanged();
    void reconnectCountChanged();
    void eventCountChanged();
    void pairingPINChanged();
    void pairingMessageChanged();
    void settingsChanged();
    // A command from the glasses was acted on: its type, the thread it named (empty when
    // none) and, for a stop, the status and message sent back.
    void commandHandled(const std::string &type, const std::string &threadId, const std::string &status,
                        const std::string &message);

private:
    // Set false when the model goes; coroutines hold a copy and stop at their next resumption.
    using AliveToken = std::shared_ptr<bool>;

    void installCallbacks();
    void poll();
    QCoro::Task<void> ensureAppServer();
    void refreshFailed(const std::string &reason);
    void publishSnapshot();
    GlassesSnapshot buildSnapshot(std::int64_t sequence) const;
    QCoro::Task<void> handleCommand(boost::json::object command);
    QCoro::Task<void> answerSnapshotRequest();
    void sendCommandResult(std::string_view commandId, std::string_view status, std::string_view message);
    void persistSettings();
    void applyLoginPreference();

    template <typename T>
    void assign(T &field, T value, void (CompanionModel::*changed)())
    {
        field = std::move(value);
        Q_EMIT(this->*changed)();
    }
    void setCodexConnected(bool connected) { assign(codexConnected_, connected, &CompanionModel::codexConnectedChanged); }
    void setRelayConnected(bool connected) { assign(relayConnected_, connected, &CompanionModel::relayConnectedChanged); }
    void setPaired(bool paired) { assign(paired_, paired, &CompanionModel::pairedChanged); }
    void setCurrentThread(std::optional<ThreadView> thread) { assign(currentThread_, std::move(thread), &CompanionModel::currentThreadChanged); }
    void setThreads(std::vector<ThreadView> threads) { assign(threads_, std::move(threads), &CompanionModel::threadsChanged); }
    void setUsage(std::optional<UsageView> usage) { assign(usage_, std::move(usage), &CompanionModel::usageChanged); }
    void setLastSync(std::optional<Moment> moment) { assign(lastSync_, moment, &CompanionModel::lastSyncChanged); }
    void setLastError(std::optional<std::string> text) { assign(lastError_, std::move(text), &CompanionModel::lastErrorChanged); }
    void setReconnectCount(int count) { assign(reconnectCount_, count, &CompanionModel::reconnectCountChanged); }
    void setEventCount(qint64 count) { assign(eventCount_, count, &CompanionModel::eventCountChanged); }
    void setPairingMessage(QString message) { assign(pairingMessage_, std::move(message), &CompanionModel::pairingMessageChanged); }

    // Published.
    bool codexConnected_ = false;
    bool relayConnected_ = false;
    bool paired_ = false;
    std::optional<ThreadView> currentThread_;
    std::vector<ThreadView> threads_;
    std::optional<UsageView> usage_;
    std::optional<Moment> lastSync_;
    std::optional<std::string> lastError_;
    int reconnectCount_ = 0;
    qint64 eventCount_ = 0;
    QString pairingPIN_;
    QString pairingMessage_;
    SharingSettings settings_;

    // Plain.
    CompanionModelOptions options_;
    std::unique_ptr<AppServerClient> appServer_;
    std::unique_ptr<RelayPublisher> relay_;
    std::optional<PairingCredentials> credentials_;
    std::map<std::string, std::string> activeTurns_;
    RedactionTally redactions_;
    std::int64_t sequence_ = 0;
    // Counts moves from a dedicated child to the daemon; a refresh that began on the child a
    // move replaced ends quietly, since the moving refresh reports for it.
    std::uint64_t daemonMoves_ = 0;
    QTimer pollingTimer_;
    bool started_ = false;
    std::string authenticationMode_ = "unknown";
    DesktopNotifier notifier_;
    RefreshTrigger trigger_;
    // Shared with the worker, which may still use it after the model is gone.
    std::shared_ptr<ThreadCache> threadCache_ = std::make_shared<ThreadCache>();
    AccountReads accountReads_;
    // Whether the last refresh read a thread in full: Codex was at work.
    bool threadsMoved_ = true;
    CommandReplayGuard seenCommands_;
    RefreshTrigger snapshotAnswers_;
    AliveToken alive_ = std::make_shared<bool>(true);
};

} // namespace orvane
