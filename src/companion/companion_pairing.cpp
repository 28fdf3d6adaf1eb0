// Pairing with a glasses channel, unpairing, and forgetting everything local.
#include "companion/companion_model.h"

#include "companion/pairing_input.h"
#include "companion/settings_store.h"

#include <QTimer>

namespace orvane {

QCoro::Task<void> CompanionModel::pair()
{
    const AliveToken alive = alive_;
    const auto pin = PairingInput::pin(pairingPIN_.toStdString());
    if (!pin) {
        setPairingMessage(QString::fromUtf8(PairingInput::wrongLengthMessage));
        co_return;
    }
    setPairingMessage(QString::fromUtf8(PairingInput::pairingMessage));

    std::optional<PairingCredentials> credentials;
    std::optional<std::string> failure;
    try {
        credentials = co_await relay_->completePairing(QString::fromStdString(*pin));
    } catch (const std::exception &error) {
        failure = error.what();
    }
    if (!*alive)
        co_return;
    if (credentials) {
        try {
            options_.credentialStore.save(encode(*credentials), credentialAccount);
        } catch (const std::exception &error) {
            failure = error.what();
        }
        if (failure) {
            // A channel nobody can publish to again would stay on the relay for good.
            co_await relay_->revoke(*credentials);
            if (!*alive)
                co_return;
        }
    }
    if (failure) {
        // The pairing held before, if any, stays in force.
        setPairingMessage(QString::fromStdString(*failure));
        co_return;
    }

    credentials_ = *credentials;
    setPaired(true);
    setPairingMessage(QString::fromUtf8(PairingInput::pairedMessage));
    relay_->connect(*credentials_);
    // Gives the new socket time to open, so the first snapshot usually finds it ready. A timer of
    // the model's, not a suspended pairing, so a model ended meanwhile leaves nothing behind.
    QTimer::singleShot(PairingInput::firstSnapshotDelay, this, &CompanionModel::publishSnapshot);
}

QCoro::Task<void> CompanionModel::unpair()
{
    const AliveToken alive = alive_;
    // The model's own credentials, so an unpair without a running companion (whose publisher
    // never connected) still revokes them.
    const std::optional<PairingCredentials> held = credentials_;
    bool revoked = false;
    if (held)
        revoked = co_await relay_->revoke(*held);
    if (!*alive)
        co_return;
    relay_->disconnect(true);
    options_.credentialStore.remove(credentialAccount);
    credentials_.reset();
    setPaired(false);
    setRelayConnected(false);
    setPairingPIN(QString());
    const std::string_view message = !held ? PairingInput::notPairedMessage
                                     : revoked ? PairingInput::unpairedMessage
                                               : PairingInput::relayUnreachableMessage;
    setPairingMessage(QString::fromUtf8(message));
}

QCoro::Task<void> CompanionModel::clearLocalData()
{
    const AliveToken alive = alive_;
    co_await unpair();
    if (!*alive)
        co_return;
    SettingsStore::remove();
    setSettings(SharingSettings{});
    setThreads({});
    setCurrentThread(std::nullopt);
    setUsage(std::nullopt);
    setLastError(std::nullopt);
}

} // namespace orvane
