#include "companion/account_reads.h"

namespace orvane {

bool AccountReads::due(std::uint64_t connection, bool threadsMoved, Clock::time_point now) const
{
    return threadsMoved || !askedAt_ || connection != connection_ || now - *askedAt_ >= interval;
}

void AccountReads::keep(Answers answers, std::uint64_t connection, Clock::time_point now)
{
    last_ = std::move(answers);
    connection_ = connection;
    askedAt_ = now;
}

QCoro::Task<AccountReads::Answer> AccountReads::ready(Answer answer)
{
    co_return answer;
}

} // namespace orvane
