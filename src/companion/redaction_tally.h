#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace orvane {

// Secrets the filter has held back since start, for the debug report. Every refresh redacts the
// same threads again, so a thread adds only what it holds beyond what it held the time before.
class RedactionTally {
public:
    // The threads of one refresh and the redactions each holds; threads no longer listed are
    // forgotten.
    void record(const std::map<std::string, std::int64_t> &countsByThread);
    std::int64_t total() const { return total_; }

private:
    std::map<std::string, std::int64_t> latest_;
    std::int64_t total_ = 0;
};

} // namespace orvane
