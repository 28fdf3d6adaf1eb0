#include "normalize/unicode_text.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace orvane::UnicodeText {

namespace {

constexpr char replacementCharacter[] = "\xEF\xBF\xBD";

// Creating a break iterator loads rule data, so each thread keeps one.
icu::BreakIterator *characterIterator()
{
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> created(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(created) : nullptr;
    }();
    return iterator.get();
}

// Offsets of the grapheme boundaries of valid UTF-8 text, visited in order until `visit`
// returns false. Falls back to code points if ICU cannot give an iterator.
template <typename Visit>
void forEachBoundary(std::string_view utf8, Visit visit)
{
    icu::BreakIterator *iterator = characterIterator();
    UErrorCode status = U_ZERO_ERROR;
    UText *text = iterator ? utext_openUTF8(nullptr, utf8.data(),
                                            static_cast<std::int64_t>(utf8.size()), &status)
                           : nullptr;
    if (text && U_SUCCESS(status)) {
        // The iterator keeps a shallow clone of `text`; it is replaced on the next call and
        // never read after this one.
        iterator->setText(text, status);
        utext_close(text);
        if (U_SUCCESS(status)) {
            for (std::int32_t at = iterator->next(); at != icu::BreakIterator::DONE;
                 at = iterator->next()) {
                if (!visit(static_cast<std::size_t>(at)))
                    break;
            }
            return;
        }
        text = nullptr;
    }
    utext_close(text);
    std::size_t at = 0;
    while (at < utf8.size()) {
        UChar32 c;
        U8_NEXT(utf8.data(), at, utf8.size(), c);
        if (!visit(at))
            break;
    }
}

} // namespace

std::string toValidUtf8(std::string_view bytes)
{
    if (isValidUtf8(bytes))
        return std::string(bytes);
    std::string valid;
    valid.reserve(bytes.size() + 8);
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t start = at;
        UChar32 c;
        U8_NEXT(bytes.data(), at, bytes.size(), c);
        if (c < 0)
            valid += replacementCharacter;
        else
            valid.append(bytes.data() + start, at - start);
    }
    return valid;
}

bool isValidUtf8(std::string_view bytes)
{
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (static_cast<unsigned char>(bytes[at]) < 0x80) {
            ++at;
            continue;
        }
        UChar32 c;
        U8_NEXT(bytes.data(), at, bytes.size(), c);
        if (c < 0)
            return false;
    }
    return true;
}

std::size_t graphemeCount(std::string_view utf8)
{
    std::string repaired;
    if (!isValidUtf8(utf8)) {
        repaired = toValidUtf8(utf8);
        utf8 = repaired;
    }
    std::size_t count = 0;
    forEachBoundary(utf8, [&](std::size_t) {
        ++count;
        return true;
    });
    return count;
}

std::string firstGraphemes(std::string_view utf8, std::size_t count)
{
    std::string repaired;
    if (!isValidUtf8(utf8)) {
        repaired = toValidUtf8(utf8);
        utf8 = repaired;
    }
    std::size_t end = 0;
    if (count >= utf8.size()) {
        end = utf8.size();
    } else if (count > 0) {
        std::size_t seen = 0;
        forEachBoundary(utf8, [&](std::size_t boundary) {
            end = boundary;
            return ++seen < count;
        });
    }
    return std::string(utf8.substr(0, end));
}

bool isNumeric(char32_t c)
{
    return u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

} // namespace orvane::UnicodeText
