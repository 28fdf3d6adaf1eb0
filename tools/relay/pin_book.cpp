#include "relay/pin_book.h"

#include <QChar>
#include <QRandomGenerator>
#include <QUuid>

#include <algorithm>
#include <utility>

namespace orvane {
namespace {

const QString everyone = QStringLiteral("*");

} // namespace

PinBook::PinBook(Limits limits, Clock clock)
    : limits_(limits), clock_(std::move(clock)), clientFailures_(limits.maxFailures, limits.failureWindow),
      relayFailures_(limits.relayFailuresPerWindow, limits.failureWindow),
      clientIssues_(limits.issuesPerClient, limits.failureWindow)
{
}

std::optional<PinBook::Issued> PinBook::issue(const QString &clientKey)
{
    const QDateTime now = clock_();
    forgetExpired(now);
    if (clientIssues_.exhausted(clientKey) || pairings_.size() >= limits_.maxPending)
        return std::nullopt;
    clientIssues_.spend(clientKey, now);
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

PinBook::Redemption PinBook::redeem(const QString &typed, const QString &clientKey)
{
    const QDateTime now = clock_();
    forgetExpired(now);
    if (clientFailures_.exhausted(clientKey) || relayFailures_.exhausted(everyone))
        return Redemption{Outcome::rateLimited, {}, {}};
    const QString pin = asciiDigits(typed);
    for (auto it = pairings_.begin(); it != pairings_.end(); ++it) {
        if (!it->pin.isEmpty() && it->pin == pin) {
            it->pin.clear();
            return Redemption{Outcome::accepted, it.key(), {}};
        }
    }
    return Redemption{Outcome::unknown, {}, countFailure(clientKey, now)};
}

std::vector<QString> PinBook::countFailure(const QString &clientKey, const QDateTime &now)
{
    clientFailures_.spend(clientKey, now);
    relayFailures_.spend(everyone, now);
    std::vector<QString> withdrawn;
    for (auto it = pairings_.begin(); it != pairings_.end();) {
        if (!it->pin.isEmpty() && ++it->failuresSeen >= limits_.pairingFailures) {
            withdrawn.push_back(it.key());
            it = pairings_.erase(it);
        } else {
            ++it;
        }
    }
    return withdrawn;
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

std::vector<QString> PinBook::takeAbandonedChannels()
{
    forgetExpired(clock_());
    return std::exchange(abandonedChannels_, {});
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
    for (auto it = pairings_.begin(); it != pairings_.end();) {
        if (it->expiresAt > now) {
            ++it;
            continue;
        }
        if (it->completion)
            abandonedChannels_.push_back(it->completion->channelId);
        it = pairings_.erase(it);
    }
    clientFailures_.forgetBefore(now);
    relayFailures_.forgetBefore(now);
    clientIssues_.forgetBefore(now);
}

} // namespace orvane
