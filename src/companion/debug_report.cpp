#include "companion/debug_report.h"

#include "normalize/unicode_text.h"

#include <array>

namespace orvane {
namespace {

constexpr std::size_t shownChannelCharacters = 8;

std::string connection(bool connected)
{
    return connected ? "connected" : "disconnected";
}

// 2026-05-01T09:30:00Z: the shared form without its three fractional digits.
std::string wholeSecondIso(DateFormatting::Clock::time_point moment)
{
    auto text = DateFormatting::iso(moment);
    text.erase(text.size() - 5, 4);
    return text;
}

} // namespace

std::string debugReport(const DebugFacts &facts)
{
    const std::array<std::string, 13> lines{
        "Orvane Companion " + std::string(companionVersion),
        "Companion: " + connection(facts.codexConnected),
        "Relay: " + connection(facts.relayConnected),
        "Codex: " + facts.codexVersion.value_or("unavailable"),
        "Protocol: " + facts.protocolVersion,
        "Connection mode: " + facts.connectionMode,
        "Authentication category: " + facts.authenticationMode,
        "Redactions since start: " + std::to_string(facts.redactionCount),
        "Pairing: "
            + (facts.channelId
                   ? UnicodeText::firstGraphemes(*facts.channelId, shownChannelCharacters) + "\u2026"
                   : std::string("none")),
        "Reconnects: " + std::to_string(facts.reconnectCount),
        "Events: " + std::to_string(facts.eventCount),
        "Last sync: " + (facts.lastSync ? wholeSecondIso(*facts.lastSync) : std::string("never")),
        "Last error: " + facts.lastError.value_or("none"),
    };
    std::string report;
    for (const auto &line : lines) {
        if (!report.empty())
            report += '\n';
        report += line;
    }
    return report;
}

} // namespace orvane
