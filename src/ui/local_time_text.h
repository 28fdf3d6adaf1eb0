#pragma once

#include <QString>

#include <chrono>

// Times of day as the user's locale writes them.
namespace orvane::LocalTimeText {

// Hours, minutes and seconds in the local time zone, without the date ("3:45:12 PM", "15:45:12").
QString timeOfDay(std::chrono::system_clock::time_point moment);

} // namespace orvane::LocalTimeText
