#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace orvane {

// The pairings in flight: the PINs the glasses asked for, redeemed once by the companion, and
// the result each pairing's glasses collect once. Lives in memory: a restart forgets pending
// PINs, which only costs the user a new PIN.
class PinBook {
public:
    using Clock = std::function<QDateTime()>;

    struct Limits {
        std::chrono::seconds pinLifetime{300};
        // A six-digit PIN is only about 20 bits, so guessing is limited per client address.
        int maxFailures = 5;
        std::chrono::seconds failureWindow{60};
    };

    struct Issued {
        QString pin;
        QString pairingId;
        QDateTime expiresAt;
    };

    enum class Outcome { accepted, unknown, rateLimited };

    struct Redemption {
        Outcome outcome;
        QString pairingId; // set when accepted
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

    Issued issue();
    Redemption redeem(const QString &typed, const QString &clientAddress);
    void complete(const QString &pairingId, Completion completion);
    // The completed state is handed out once; afterwards the pairing is unknown.
    PairingState take(const QString &pairingId);

    // Any Unicode decimal digit becomes its ASCII digit; every other character is kept.
    static QString asciiDigits(const QString &typed);

private:
    struct Pairing {
        QString pin; // empty once redeemed
        QDateTime expiresAt;
        std::optional<Completion> completion;
    };

    void forgetExpired(const QDateTime &now);
    bool limited(const QString &clientAddress) const;

    Limits limits_;
    Clock clock_;
    QHash<QString, Pairing> pairings_;            // by pairing id
    QHash<QString, QList<QDateTime>> failures_;   // by client address
};

} // namespace orvane
