#pragma once

#include <QCoroTask>

#include <boost/json/object.hpp>

#include <chrono>
#include <cstdint>
#include <optional>

namespace orvane {

// The account, its rate limits and the configuration, as the last refresh that asked got them.
// They change while Codex works, which shows as threads read in full, or on another connection;
// otherwise they are asked again once a minute, sparing the App Server three requests a poll.
class AccountReads {
public:
    using Clock = std::chrono::steady_clock;
    using Answer = std::optional<boost::json::object>;

    struct Answers {
        Answer account;
        Answer rateLimits;
        Answer config;
    };

    static constexpr std::chrono::minutes interval{1};

    bool due(std::uint64_t connection, bool threadsMoved, Clock::time_point now) const;
    void keep(Answers answers, std::uint64_t connection, Clock::time_point now);
    const Answers &last() const { return last_; }

    // A kept answer as the request it stands in for.
    static QCoro::Task<Answer> ready(Answer answer);

private:
    Answers last_;
    std::optional<Clock::time_point> askedAt_;
    std::uint64_t connection_ = 0;
};

} // namespace orvane
