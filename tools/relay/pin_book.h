#pragma once

#include "relay/rate_budget.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace orvane {

// The pairings in flight: the PINs the glasses asked for, redeemed once by the companion, and
// the result each pairing's glasses collect once. Lives in memory: a restart forgets pending
// PINs, which only costs the user a new PIN.
//
// A six-digit PIN is only about 20 bits and the companion sends no pairing id, so a guess may
// match any pending PIN. Every wrong PIN therefore counts against every pending pairing, and a
// pairing that saw `pairingFailures` of them is withdrawn: whatever the number of addresses, a
// PIN faces only a handful of guesses in its life.
class PinBook {
public:
    using Clock = std::function<QDateTime()>;

    struct Limits {
        std::chrono::seconds pinLifetime{300};
        // Wrong PINs one client (an IPv4 address or IPv6 /64) may send per failure window.
        int maxFailures = 5;
        std::chrono::seconds failureWindow{60};
        int pairingFailures = 5;
        int relayFailuresPerWindow = 60;
        int issuesPerClient = 10; // PINs one client may ask for per failure window
        int maxPending = 10'000;
    };

    struct Issued {
        QString pin;
        QString pairingId;
        QDateTime expiresAt;
    };

    enum class Outcome { accepted, unknown, rateLimited };

    struct Redemption {
        Outcome outcome;
        QString pairingId;            // set when accepted
        std::vector<QString> withdrawn; // pairings whose PIN this wrong one used up
    };

    struct Completion {
        QString channelId;
        QString subscriberToken;
    };

    enum class Status { unknown, pending, completed };

    struct PairingState {
        Status status;
        std::optional<Completion> completion; // set once, with completed
    };

    explicit PinBook(Limits limits, Clock clock = &QDateTime::currentDateTimeUtc);

    // Nothing when the client asked for too many PINs lately or too many are pending.
    std::optional<Issued> issue(const QString &clientKey);
    Redemption redeem(const QString &typed, const QString &clientKey);
    void complete(const QString &pairingId, Completion completion);
    // The completed state is handed out once; afterwards the pairing is unknown.
    PairingState take(const QString &pairingId);
    // Channels made for pairings whose glasses never collected them: nobody can ever subscribe.
    std::vector<QString> takeAbandonedChannels();

    // Any Unicode decimal digit becomes its ASCII digit; every other character is kept.
    static QString asciiDigits(const QString &typed);

private:
    struct Pairing {
        QString pin; // empty once redeemed
        QDateTime expiresAt;
        std::optional<Completion> completion;
        int failuresSeen = 0;
    };

    void forgetExpired(const QDateTime &now);
    std::vector<QString> countFailure(const QString &clientKey, const QDateTime &now);

    Limits limits_;
    Clock clock_;
    QHash<QString, Pairing> pairings_; // by pairing id
    RateBudget clientFailures_;
    RateBudget relayFailures_;
    RateBudget clientIssues_;
    std::vector<QString> abandonedChannels_;
};

} // namespace orvane
