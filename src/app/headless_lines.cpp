#include "app/headless_lines.h"

#include "appserver/connection_mode.h"

#include <algorithm>

namespace orvane::HeadlessLines {
namespace {

constexpr std::size_t longestOutsideText = 200;

// Text from outside (relay reasons, thread identifiers from the glasses) shown on one line,
// bounded, without control characters that could move the terminal's cursor.
std::string plain(const std::string &text)
{
    std::string shown;
    for (const char c : text.substr(0, longestOutsideText))
        shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? ' ' : c;
    return text.size() > longestOutsideText ? shown + "\u2026" : shown;
}

std::string sentence(const std::string &text)
{
    std::string shown = plain(text);
    if (shown.empty())
        return "no reason given.";
    return shown.back() == '.' ? shown : shown + '.';
}

} // namespace

std::string summary(const std::vector<ThreadView> &threads, const std::optional<ThreadView> &current)
{
    if (threads.empty() || !current)
        return "No threads.";
    std::string line = std::to_string(threads.size()) + (threads.size() == 1 ? " thread" : " threads");
    line += "; current: \"" + plain(current->title) + "\"";
    if (current->activityText)
        line += ", " + plain(*current->activityText);
    return line;
}

std::string connectionMode(const std::string &mode)
{
    return mode == connectionModeLabel(ConnectionMode::managedDaemonProxy) ? "Codex: through the managed daemon." : "Codex: own App Server.";
}

std::string relayRetry(const std::string &reason, std::chrono::milliseconds delay)
{
    const auto seconds = std::max<long long>(1, (delay.count() + 999) / 1000);
    return "Relay not connected: " + sentence(reason) + " Next try in " + std::to_string(seconds) + " s.";
}

std::string command(const std::string &type, const std::string &threadId, const std::string &status,
                    const std::string &message, const std::vector<ThreadView> &threads)
{
    if (type == "request_snapshot")
        return "Glasses asked for a snapshot; it was sent.";
    if (type == "mark_notification_seen")
        return "Glasses marked a notification seen.";
    const auto thread = std::find_if(threads.begin(), threads.end(), [&](const ThreadView &view) { return view.id == threadId; });
    const std::string named = thread == threads.end() ? "thread " + plain(threadId) : "\"" + plain(thread->title) + "\"";
    return "Glasses asked to stop " + named + ": " + plain(status) + ", " + sentence(message);
}

} // namespace orvane::HeadlessLines
