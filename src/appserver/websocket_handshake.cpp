#include "appserver/websocket_handshake.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <map>

namespace orvane::WebSocketHandshake {
namespace {

constexpr std::string_view acceptGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

std::string lower(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Whether a comma-separated header value holds `token`, compared without case.
bool hasToken(std::string_view value, std::string_view token)
{
    while (!value.empty()) {
        const auto comma = value.find(',');
        if (lower(trimmed(value.substr(0, comma))) == token)
            return true;
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
    return false;
}

} // namespace

std::string newKey()
{
    std::array<std::uint32_t, 4> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray raw(reinterpret_cast<const char *>(words.data()), sizeof(words));
    return raw.toBase64().toStdString();
}

std::string acceptFor(std::string_view key)
{
    QByteArray input(key.data(), static_cast<qsizetype>(key.size()));
    input.append(acceptGuid.data(), static_cast<qsizetype>(acceptGuid.size()));
    return QCryptographicHash::hash(input, QCryptographicHash::Sha1).toBase64().toStdString();
}

std::string request(std::string_view key)
{
    std::string text = "GET / HTTP/1.1\r\n"
                       "Host: localhost\r\n"
                       "Upgrade: websocket\r\n"
                       "Connection: Upgrade\r\n"
                       "Sec-WebSocket-Key: ";
    text.append(key);
    text += "\r\nSec-WebSocket-Version: 13\r\n\r\n";
    return text;
}

bool accepts(std::string_view head, std::string_view key)
{
    auto lineEnd = head.find("\r\n");
    const std::string_view statusLine = head.substr(0, lineEnd);
    // "HTTP/1.1 101 Switching Protocols": the reason phrase is free text.
    if (!statusLine.starts_with("HTTP/1.1 101") ||
        (statusLine.size() > 12 && statusLine[12] != ' '))
        return false;

    std::map<std::string, std::string, std::less<>> headers;
    while (lineEnd != std::string_view::npos) {
        head.remove_prefix(lineEnd + 2);
        lineEnd = head.find("\r\n");
        const std::string_view line = head.substr(0, lineEnd);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return false;
        std::string name = lower(line.substr(0, colon));
        std::string &value = headers[name];
        // Repeated headers combine into one comma-separated list.
        if (!value.empty())
            value += ',';
        value.append(trimmed(line.substr(colon + 1)));
    }

    const auto header = [&headers](std::string_view name) -> std::string_view {
        const auto found = headers.find(name);
        return found == headers.end() ? std::string_view{} : std::string_view{found->second};
    };
    return lower(header("upgrade")) == "websocket" && hasToken(header("connection"), "upgrade") &&
           header("sec-websocket-accept") == acceptFor(key) &&
           header("sec-websocket-extensions").empty() && header("sec-websocket-protocol").empty();
}

} // namespace orvane::WebSocketHandshake
