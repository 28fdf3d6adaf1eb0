#pragma once

#include <QByteArray>

#include <optional>
#include <string>
#include <vector>

// What a later start asks the running companion over the instance socket, and its answer.
// A request is one line: "pair PIN", "unpair", "status", "show", "snapshot", or "sharing"
// followed by the choices to make, each after one space. The answer is "ok" or
// "failed" on its first line, then the text to print; the companion closes the socket after it.
namespace orvane {

struct InstanceRequest {
    enum class Kind { pair, unpair, status, show, sharing, snapshot };
    Kind kind = Kind::status;
    std::string pin; // for pair, as typed
    std::vector<std::string> choices; // for sharing: name=value, none to only read them

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
