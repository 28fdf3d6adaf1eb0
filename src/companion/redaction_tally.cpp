#include "companion/redaction_tally.h"

namespace orvane {

void RedactionTally::record(const std::map<std::string, std::int64_t> &countsByThread)
{
    for (const auto &[thread, count] : countsByThread) {
        const auto before = latest_.find(thread);
        const std::int64_t known = before == latest_.end() ? 0 : before->second;
        if (count > known)
            total_ += count - known;
    }
    latest_ = countsByThread;
}

} // namespace orvane
