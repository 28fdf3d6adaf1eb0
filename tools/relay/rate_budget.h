#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <chrono>

namespace orvane {

// At most `allowed` spendings per key within any `window`; a key that spent nothing in the
// last window is forgotten, so the table stays as small as the recent traffic.
class RateBudget {
public:
    RateBudget(int allowed, std::chrono::seconds window) : allowed_(allowed), window_(window) {}

    bool exhausted(const QString &key) const { return spent_.value(key).size() >= allowed_; }
    void spend(const QString &key, const QDateTime &now) { spent_[key].append(now); }
    void forgetBefore(const QDateTime &now);

private:
    int allowed_;
    std::chrono::seconds window_;
    QHash<QString, QList<QDateTime>> spent_;
};

} // namespace orvane
