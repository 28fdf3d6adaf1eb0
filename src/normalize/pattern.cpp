#include "normalize/pattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace orvane {

struct Pattern::Compiled {
    pcre2_code *code = nullptr;
    ~Compiled() { pcre2_code_free(code); }
};

namespace {

struct MatchDataDeleter {
    void operator()(pcre2_match_data *data) const { pcre2_match_data_free(data); }
};
using MatchData = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;

// Finds the first match at or after `offset`; returns its bounds in `start`/`end`.
// The JIT has a small fixed stack; a subject that exhausts it is matched again by the
// interpreter, so a long text can never slip past a pattern.
bool matchAt(const pcre2_code *code, std::string_view subject, std::size_t offset,
             std::uint32_t options, pcre2_match_data *data, std::size_t &start, std::size_t &end)
{
    // An empty view may have no data, which the matcher refuses.
    const auto *bytes = reinterpret_cast<PCRE2_SPTR>(subject.data() ? subject.data() : "");
    int rc = pcre2_match(code, bytes, subject.size(), offset, options, data, nullptr);
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT)
        rc = pcre2_match(code, bytes, subject.size(), offset, options | PCRE2_NO_JIT, data,
                         nullptr);
    if (rc < 0)
        return false;
    const PCRE2_SIZE *ovector = pcre2_get_ovector_pointer(data);
    start = ovector[0];
    end = ovector[1];
    return true;
}

std::size_t nextCodePoint(std::string_view subject, std::size_t at)
{
    ++at;
    while (at < subject.size() && (static_cast<unsigned char>(subject[at]) & 0xC0) == 0x80)
        ++at;
    return at;
}

// Calls `onMatch(start, end)` for every non-overlapping match, in order. After an empty
// match the search tries a non-empty match at the same place before moving on, as Perl does.
template <typename OnMatch>
void forEachMatch(const pcre2_code *code, std::string_view subject, OnMatch onMatch)
{
    if (!code)
        return;
    MatchData data(pcre2_match_data_create_from_pattern(code, nullptr));
    if (!data)
        return;
    std::size_t offset = 0;
    std::uint32_t options = 0;
    while (offset <= subject.size()) {
        std::size_t start = 0;
        std::size_t end = 0;
        if (!matchAt(code, subject, offset, options, data.get(), start, end)) {
            if (options == 0 || offset >= subject.size())
                return;
            offset = nextCodePoint(subject, offset);
            options = 0;
            continue;
        }
        onMatch(start, end);
        offset = end;
        options = start == end ? PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED : 0;
    }
}

} // namespace

Pattern::Pattern(std::string_view source)
    : compiled_(std::make_unique<Compiled>())
{
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    // Invalid UTF-8 in a subject then simply never matches instead of failing the call.
    compiled_->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(source.data()), source.size(),
                                    PCRE2_UTF | PCRE2_UCP | PCRE2_CASELESS
                                        | PCRE2_MATCH_INVALID_UTF,
                                    &error, &errorOffset, nullptr);
    if (compiled_->code)
        pcre2_jit_compile(compiled_->code, PCRE2_JIT_COMPLETE);
}

Pattern::~Pattern() = default;
Pattern::Pattern(Pattern &&) noexcept = default;
Pattern &Pattern::operator=(Pattern &&) noexcept = default;

bool Pattern::isValid() const
{
    return compiled_ && compiled_->code;
}

bool Pattern::search(std::string_view utf8) const
{
    bool found = false;
    if (isValid()) {
        MatchData data(pcre2_match_data_create_from_pattern(compiled_->code, nullptr));
        std::size_t start = 0;
        std::size_t end = 0;
        found = data && matchAt(compiled_->code, utf8, 0, 0, data.get(), start, end);
    }
    return found;
}

std::size_t Pattern::lastMatchEnd(std::string_view utf8) const
{
    std::size_t last = 0;
    if (isValid())
        forEachMatch(compiled_->code, utf8, [&](std::size_t, std::size_t end) { last = end; });
    return last;
}

std::size_t Pattern::count(std::string_view utf8) const
{
    std::size_t matches = 0;
    if (isValid())
        forEachMatch(compiled_->code, utf8, [&](std::size_t, std::size_t) { ++matches; });
    return matches;
}

std::string Pattern::replaceAll(std::string_view utf8, std::string_view replacement,
                                std::size_t *replaced) const
{
    std::string result;
    std::size_t matches = 0;
    std::size_t copied = 0;
    if (isValid()) {
        forEachMatch(compiled_->code, utf8, [&](std::size_t start, std::size_t end) {
            if (matches == 0)
                result.reserve(utf8.size());
            result.append(utf8.substr(copied, start - copied));
            result.append(replacement);
            copied = end;
            ++matches;
        });
    }
    result.append(utf8.substr(copied));
    if (replaced)
        *replaced = matches;
    return result;
}

} // namespace orvane
