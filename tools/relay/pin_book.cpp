#include "relay/pin_book.h"

#include <QChar>
#include <QRandomGenerator>
#include <QUuid>

#include <algorithm>

namespace orvane {

PinBook::PinBook(Limits limits, Clock clock) : limits_(limits), clock_(std::move(clock)) {}

PinBook::Issued PinBook::issue()
{
    const QDateTime now = clock_();
    forgetExpired(now);
    QString pin;
    bool taken = true;
    while (taken) {
        // The system generator draws from the kernel's cryptographic source.
        pin = QStringLiteral("%1").arg(QRandomGenerator::system()->bounded(1'000'000), 6, 10, QChar('0'));
        taken = std::any_of(pairings_.cbegin(), pairings_.cend(),
                            [&](const Pairing &pairing) { return pairing.pin == pin; });
    }
    const QString pairingId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QDateTime expiresAt = now.addSecs(limits_.pinLifetime.count());
    pairings_.insert(pairingId, Pairing{pin, expiresAt, std::nullopt});
    return Issued{pin, pairingId, expiresAt};
}

PinBook::Redemption PinBook::redeem(const QString &typed, const QString &clientAddress)
{
    const QDateTime now = clock_();
    forgetExpired(now);
    if (limited(clientAddress))
        return Redemption{Outcome::rateLimited, {}};
    const QString pin = asciiDigits(typed);
    for (auto it = pairings_.begin(); it != pairings_.end(); ++it) {
        if (!it->pin.isEmpty() && it->pin == pin) {
            it->pin.clear();
            return Redemption{Outcome::accepted, it.key()};
        }
    }
    failures_[clientAddress].append(now);
    return Redemption{Outcome::unknown, {}};
}

void PinBook::complete(const QString &pairingId, Completion completion)
{
    const auto it = pairings_.find(pairingId);
    if (it != pairings_.end())
        it->completion = std::move(completion);
}

PinBook::PairingState PinBook::take(const QString &pairingId)
{
    forgetExpired(clock_());
    const auto it = pairings_.find(pairingId);
    if (it == pairings_.end())
        return PairingState{Status::unknown, std::nullopt};
    if (!it->completion)
        return PairingState{Status::pending, std::nullopt};
    PairingState state{Status::completed, std::move(it->completion)};
    pairings_.erase(it);
    return state;
}

QString PinBook::asciiDigits(const QString &typed)
{
    QString result;
    for (const char32_t c : typed.toUcs4()) {
        if (QChar::category(c) == QChar::Number_DecimalDigit)
            result.append(QChar(u'0' + QChar::digitValue(c)));
        else
            result.append(QString::fromUcs4(&c, 1));
    }
    return result;
}

void PinBook::forgetExpired(const QDateTime &now)
{
    // A completed pairing waits for its glasses as long as its PIN would have lived.
    pairings_.removeIf([&](const auto &entry) { return entry.value().expiresAt <= now; });
    const QDateTime windowStart = now.addSecs(-limits_.failureWindow.count());
    for (auto it = failures_.begin(); it != failures_.end();) {
        it->removeIf([&](const QDateTime &at) { return at <= windowStart; });
        it = it->isEmpty() ? failures_.erase(it) : std::next(it);
    }
}

bool PinBook::limited(const QString &clientAddress) const
{
    return failures_.value(clientAddress).size() >= limits_.maxFailures;
}

} // namespace orvane
