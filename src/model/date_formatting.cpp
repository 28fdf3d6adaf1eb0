#include "model/date_formatting.h"

#include <charconv>
#include <cstdio>

namespace orvane::DateFormatting {
namespace {

using namespace std::chrono;

// Reads exactly `width` decimal digits at `position`.
std::optional<int> digits(std::string_view text, std::size_t position, std::size_t width)
{
    if (position + width > text.size())
        return std::nullopt;
    int value = 0;
    for (std::size_t i = position; i < position + width; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool hasAt(std::string_view text, std::size_t position, char expected)
{
    return position < text.size() && text[position] == expected;
}

} // namespace

std::string iso(Clock::time_point moment)
{
    const auto milliseconds = floor<std::chrono::milliseconds>(moment);
    const auto day = floor<days>(milliseconds);
    const year_month_day date{day};
    const hh_mm_ss time{milliseconds - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()),
                  int(time.subseconds().count()));
    return text;
}

std::optional<Clock::time_point> parseIso(std::string_view text, bool requireNoFraction)
{
    const auto year = digits(text, 0, 4);
    const auto month = digits(text, 5, 2);
    const auto day = digits(text, 8, 2);
    const auto hour = digits(text, 11, 2);
    const auto minute = digits(text, 14, 2);
    const auto second = digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || !hasAt(text, 4, '-')
        || !hasAt(text, 7, '-') || !(hasAt(text, 10, 'T') || hasAt(text, 10, 't'))
        || !hasAt(text, 13, ':') || !hasAt(text, 16, ':'))
        return std::nullopt;
    const year_month_day date{std::chrono::year{*year}, std::chrono::month(unsigned(*month)),
                              std::chrono::day(unsigned(*day))};
    if (!date.ok() || *hour > 23 || *minute > 59 || *second > 60)
        return std::nullopt;

    std::size_t position = 19;
    nanoseconds fraction{0};
    if (hasAt(text, position, '.')) {
        if (requireNoFraction)
            return std::nullopt;
        ++position;
        const auto start = position;
        long long scale = 100'000'000;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
            fraction += nanoseconds((text[position] - '0') * scale);
            scale /= 10;
            ++position;
        }
        if (position == start)
            return std::nullopt;
    }

    minutes offset{0};
    if (hasAt(text, position, 'Z') || hasAt(text, position, 'z')) {
        ++position;
    } else if (hasAt(text, position, '+') || hasAt(text, position, '-')) {
        const int sign = text[position] == '-' ? -1 : 1;
        const auto offsetHours = digits(text, position + 1, 2);
        const auto offsetMinutes = digits(text, position + 4, 2);
        if (!offsetHours || !hasAt(text, position + 3, ':') || !offsetMinutes || *offsetHours > 23
            || *offsetMinutes > 59)
            return std::nullopt;
        offset = sign * (hours(*offsetHours) + minutes(*offsetMinutes));
        position += 6;
    } else {
        return std::nullopt;
    }
    if (position != text.size())
        return std::nullopt;

    // Whole seconds cannot overflow for any four-digit year; the clock's nanoseconds end in
    // 2262, and a moment past that is refused rather than wrapped. So is one before 1970 (in
    // UTC: an offset can carry a 1970 date back into 1969).
    const sys_seconds whole = sys_days(date) + hours(*hour) + minutes(*minute) + seconds(*second) - offset;
    if (whole.time_since_epoch() < seconds(0)
        || whole.time_since_epoch() >= duration_cast<seconds>(Clock::duration::max()) - seconds(1))
        return std::nullopt;
    return time_point_cast<Clock::duration>(whole) + duration_cast<Clock::duration>(fraction);
}

} // namespace orvane::DateFormatting
