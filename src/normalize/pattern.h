#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace orvane {

// A case-insensitive Unicode regular expression (PCRE2, UTF + UCP), compiled once and
// JIT-compiled where the platform allows. Const members are safe to call from many threads at
// once: each call allocates its own match data. Invalid UTF-8 in a subject never matches and
// is kept as it is.
class Pattern {
public:
    // A source that fails to compile gives a Pattern that never matches.
    explicit Pattern(std::string_view source);
    ~Pattern();
    Pattern(Pattern &&) noexcept;
    Pattern &operator=(Pattern &&) noexcept;

    bool isValid() const;
    bool search(std::string_view utf8) const;
    // Where the last of the non-overlapping matches ends; 0 without a match.
    std::size_t lastMatchEnd(std::string_view utf8) const;
    // Number of non-overlapping matches.
    std::size_t count(std::string_view utf8) const;
    // Replaces every non-overlapping match with `replacement`, taken literally.
    std::string replaceAll(std::string_view utf8, std::string_view replacement,
                           std::size_t *replaced = nullptr) const;

private:
    struct Compiled;
    std::unique_ptr<Compiled> compiled_;
};

} // namespace orvane
