#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QString>

#include <QCoroTask>

// An HTTP answer from the relay, read as it arrives and given up as soon as it passes a size
// limit, so a hostile relay cannot make the companion hold a huge body.
namespace orvane {

struct BoundedReply {
    int status = 0; // 0 when no HTTP answer came
    QByteArray body;
    bool oversized = false;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorString;
};

// Answers to pairing and revoking are a few hundred bytes.
inline constexpr qsizetype relayAnswerLimit = 16 * 1024;

// Waits for `reply` to finish, keeping at most `limit` bytes of its body; a longer body (or a
// longer announced length) aborts the transfer and comes back empty and `oversized`.
QCoro::Task<BoundedReply> readBounded(QNetworkReply *reply, qsizetype limit = relayAnswerLimit);

} // namespace orvane
