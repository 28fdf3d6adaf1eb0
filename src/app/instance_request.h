#pragma once

#include <QByteArray>

#include <optional>
#include <string>

// What a later start asks the running companion over the instance socket, and its answer.
// A request is one line: "pair PIN", "unpair", "status" or "show". The answer is "ok" or
// "failed" on its first line, then the text to print; the companion closes the socket after it.
namespace orvane {

struct InstanceRequest {
    enum class Kind { pair, unpair, status, show };
    Kind kind = Kind::status;
    std::string pin; // for pair, as typed

    QByteArray encode() const;
    // The request in one line without its line feed; nothing for anything else.
    static std::optional<InstanceRequest> decode(const QByteArray &line);
};

struct InstanceReply {
    bool succeeded = false;
    std::string text;

    QByteArray encode() const;
    static InstanceReply decode(const QByteArray &bytes);
};

} // namespace orvane
