#include "ui/local_time_text.h"

#include <unicode/datefmt.h>
#include <unicode/unistr.h>

#include <QDateTime>
#include <QLocale>

#include <memory>

namespace orvane::LocalTimeText {

QString timeOfDay(std::chrono::system_clock::time_point moment)
{
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(moment.time_since_epoch()).count();
    // ICU's medium time style is the locale's standard length: with seconds, without a zone.
    const std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createTimeInstance(icu::DateFormat::kMedium));
    if (!format)
        return QLocale::system().toString(QDateTime::fromMSecsSinceEpoch(milliseconds).time(), QLocale::ShortFormat);
    icu::UnicodeString text;
    format->format(static_cast<UDate>(milliseconds), text);
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

} // namespace orvane::LocalTimeText
