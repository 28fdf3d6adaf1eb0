#include "app/instance_request.h"

#include <QList>

#include <array>
#include <utility>

namespace orvane {
namespace {

constexpr std::array<std::pair<InstanceRequest::Kind, const char *>, 6> words{{
    {InstanceRequest::Kind::pair, "pair"},
    {InstanceRequest::Kind::unpair, "unpair"},
    {InstanceRequest::Kind::status, "status"},
    {InstanceRequest::Kind::show, "show"},
    {InstanceRequest::Kind::sharing, "sharing"},
    {InstanceRequest::Kind::snapshot, "snapshot"},
}};

} // namespace

QByteArray InstanceRequest::encode() const
{
    QByteArray line;
    for (const auto &[candidate, word] : words)
        if (candidate == kind)
            line = word;
    if (kind == Kind::pair) {
        // The PIN travels on the request's one line.
        QByteArray typed = QByteArray::fromStdString(pin);
        typed.replace('\n', ' ').replace('\r', ' ');
        line += ' ' + typed;
    }
    // Choices hold no spaces; anything else would not be a choice anyway.
    for (const std::string &choice : choices)
        line += ' ' + QByteArray::fromStdString(choice).replace('\n', ' ').replace('\r', ' ');
    return line + '\n';
}

std::optional<InstanceRequest> InstanceRequest::decode(const QByteArray &line)
{
    const qsizetype space = line.indexOf(' ');
    const QByteArray word = space < 0 ? line : line.left(space);
    for (const auto &[kind, candidate] : words) {
        const bool takesWords = kind == Kind::pair || kind == Kind::sharing;
        if (word != candidate || (space >= 0 && !takesWords) || (space < 0 && kind == Kind::pair))
            continue;
        InstanceRequest request{kind, {}, {}};
        if (kind == Kind::pair)
            request.pin = line.mid(space + 1).toStdString();
        if (kind == Kind::sharing && space >= 0)
            for (const QByteArray &choice : line.mid(space + 1).split(' '))
                if (!choice.isEmpty())
                    request.choices.push_back(choice.toStdString());
        return request;
    }
    return std::nullopt;
}

QByteArray InstanceReply::encode() const
{
    return QByteArray(succeeded ? "ok\n" : "failed\n") + QByteArray::fromStdString(text);
}

InstanceReply InstanceReply::decode(const QByteArray &bytes)
{
    const qsizetype end = bytes.indexOf('\n');
    const QByteArray status = end < 0 ? bytes : bytes.left(end);
    return {status == "ok", end < 0 ? std::string() : bytes.mid(end + 1).toStdString()};
}

} // namespace orvane
