#include "raw_relay_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <regex>

namespace orvane::test {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in loopback(const std::string &address, std::uint16_t port)
{
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &socketAddress.sin_addr);
    return socketAddress;
}

} // namespace

RawRelayClient::RawRelayClient(const std::string &source, std::uint16_t port)
    : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    const sockaddr_in from = loopback(source, 0), to = loopback("127.0.0.1", port);
    if (::bind(fd_, reinterpret_cast<const sockaddr *>(&from), sizeof from) != 0 ||
        ::connect(fd_, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

RawRelayClient::~RawRelayClient()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool RawRelayClient::sendAll(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool RawRelayClient::fill(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd readable{fd_, POLLIN, 0};
    if (left <= 0 || ::poll(&readable, 1, static_cast<int>(left)) <= 0)
        return false;
    char chunk[65536];
    const ssize_t size = ::recv(fd_, chunk, sizeof chunk, 0);
    if (size <= 0)
        return false;
    wireBytes_ += static_cast<std::uint64_t>(size);
    buffer_.append(chunk, static_cast<std::size_t>(size));
    return true;
}

std::optional<std::string> RawRelayClient::take(std::size_t size, Clock::time_point deadline)
{
    while (buffer_.size() < size)
        if (!fill(deadline))
            return std::nullopt;
    std::string taken = buffer_.substr(0, size);
    buffer_.erase(0, size);
    return taken;
}

RawRelayClient::HttpAnswer RawRelayClient::http(std::string_view request, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    if (!sendAll(request))
        return {};
    std::size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos)
        if (!fill(deadline))
            return {};
    const std::string head = buffer_.substr(0, end);
    buffer_.erase(0, end + 4);
    std::smatch length;
    const std::size_t bodySize = std::regex_search(head, length, std::regex("Content-Length: ([0-9]+)", std::regex::icase))
                                     ? std::stoul(length[1]) : 0;
    const auto body = take(bodySize, deadline);
    return body ? HttpAnswer{std::stoi(head.substr(9, 3)), *body} : HttpAnswer{};
}

bool RawRelayClient::upgrade(const std::string &path, bool deflate)
{
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                                "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n" +
                                std::string(deflate ? "Sec-WebSocket-Extensions: permessage-deflate\r\n" : "") + "\r\n";
    return http(request).status == 101;
}

void RawRelayClient::sendText(std::string_view text)
{
    std::string frame{'\x81'};
    if (text.size() < 126) {
        frame += static_cast<char>(0x80 | text.size());
    } else {
        frame += static_cast<char>(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame += static_cast<char>((static_cast<std::uint64_t>(text.size()) >> shift) & 0xff);
    }
    const char mask[4] = {0x1f, 0x2e, 0x3d, 0x4c};
    frame.append(mask, 4);
    for (std::size_t i = 0; i < text.size(); ++i)
        frame += static_cast<char>(text[i] ^ mask[i % 4]);
    sendAll(frame);
}

std::optional<RawRelayClient::Message> RawRelayClient::nextMessage(std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    Message message;
    bool first = true;
    for (;;) {
        const auto head = take(2, deadline);
        if (!head)
            return std::nullopt;
        const auto byte0 = static_cast<unsigned char>((*head)[0]);
        std::uint64_t size = static_cast<unsigned char>((*head)[1]) & 0x7f;
        const std::size_t extra = size == 126 ? 2 : size == 127 ? 8 : 0;
        if (extra) {
            const auto bytes = take(extra, deadline);
            if (!bytes)
                return std::nullopt;
            size = 0;
            for (const char c : *bytes)
                size = (size << 8) | static_cast<unsigned char>(c);
        }
        const auto payload = take(static_cast<std::size_t>(size), deadline);
        const int opcode = byte0 & 0x0f;
        if (!payload || opcode == 0x8)
            return std::nullopt;
        if (opcode >= 0x8)
            continue; // ping or pong
        if (first)
            message.compressed = (byte0 & 0x40) != 0;
        first = false;
        message.payload += *payload;
        if (byte0 & 0x80)
            return message;
    }
}

} // namespace orvane::test
