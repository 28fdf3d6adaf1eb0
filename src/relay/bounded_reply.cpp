#include "relay/bounded_reply.h"

#include <QCoroNetworkReply>

#include <memory>

namespace orvane {

QCoro::Task<BoundedReply> readBounded(QNetworkReply *reply, qsizetype limit)
{
    auto answer = std::make_shared<BoundedReply>();
    const auto refuse = [reply, answer] {
        answer->oversized = true;
        answer->body.clear();
        reply->abort();
    };
    const auto announcedTooLong = [reply, limit] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        return length.isValid() && length.toLongLong() > limit;
    };
    const auto take = [reply, answer, limit, refuse] {
        if (answer->oversized)
            return;
        answer->body += reply->read(limit + 1 - answer->body.size());
        if (answer->body.size() > limit)
            refuse();
    };
    // Qt stops reading from the network while this much waits unread.
    reply->setReadBufferSize(limit + 1);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [announcedTooLong, refuse, answer] {
        if (!answer->oversized && announcedTooLong())
            refuse();
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, take);
    if (!reply->isFinished())
        co_await reply;
    take();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && !answer->oversized)
        answer->status = status.toInt();
    answer->error = reply->error();
    answer->errorString = reply->errorString();
    co_return *answer;
}

} // namespace orvane
