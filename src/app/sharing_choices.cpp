#include "app/sharing_choices.h"

#include "model/enumerations.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace orvane::SharingChoices {
namespace {

struct Switch {
    std::string_view name;
    bool SharingSettings::*field;
};

constexpr std::array<Switch, 11> switches{{
    {"threadTitles", &SharingSettings::threadTitles},
    {"projectNickname", &SharingSettings::projectNickname},
    {"activityStatus", &SharingSettings::activityStatus},
    {"elapsedTime", &SharingSettings::elapsedTime},
    {"finalSummary", &SharingSettings::finalSummary},
    {"modelAndReasoning", &SharingSettings::modelAndReasoning},
    {"gitSummary", &SharingSettings::gitSummary},
    {"checkStatus", &SharingSettings::checkStatus},
    {"usageMetrics", &SharingSettings::usageMetrics},
    {"nativeNotifications", &SharingSettings::nativeNotifications},
    {"startAtLogin", &SharingSettings::startAtLogin},
}};

constexpr std::string_view transcriptName = "transcript";
constexpr std::size_t longestShown = 40;

std::string allowedNames()
{
    std::string names;
    for (const Switch &entry : switches)
        names += std::string(entry.name) + ", ";
    return names + std::string(transcriptName);
}

} // namespace

std::string shown(std::string_view typed)
{
    std::string text;
    for (const char c : typed.substr(0, longestShown))
        text += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    return typed.size() > longestShown ? text + "\u2026" : text;
}

std::string describe(const SharingSettings &settings)
{
    std::string text;
    for (const Switch &entry : switches) {
        if (entry.field == &SharingSettings::usageMetrics)
            text += std::string(transcriptName) + "=" + std::string(rawValue(settings.transcript)) + "\n";
        text += std::string(entry.name) + (settings.*entry.field ? "=on\n" : "=off\n");
    }
    text.pop_back();
    return text;
}

std::variant<SharingSettings, std::string> apply(SharingSettings settings, const std::vector<std::string> &choices)
{
    for (const std::string &choice : choices) {
        const auto equals = choice.find('=');
        if (equals == std::string::npos)
            return "\"" + shown(choice) + "\" is not a choice; write name=value, for example transcript=none.";
        const std::string_view name = std::string_view(choice).substr(0, equals);
        const std::string_view value = std::string_view(choice).substr(equals + 1);
        if (name == transcriptName) {
            const auto level = transcriptLevelFromRaw(value);
            if (!level)
                return "transcript cannot be \"" + shown(value) + "\"; choose none, messages, activity or full.";
            settings.transcript = *level;
            continue;
        }
        const auto found = std::find_if(switches.begin(), switches.end(), [&](const Switch &entry) { return entry.name == name; });
        if (found == switches.end())
            return "\"" + shown(name) + "\" is no sharing choice; the choices are " + allowedNames() + ".";
        if (value != "on" && value != "off")
            return std::string(name) + " cannot be \"" + shown(value) + "\"; choose on or off.";
        settings.*found->field = value == "on";
    }
    return settings;
}

} // namespace orvane::SharingChoices
