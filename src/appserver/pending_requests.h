#pragma once
#include <boost/json/value.hpp>

#include <coroutine>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <unordered_map>

namespace orvane {

// Requests waiting for their answer, by id. Whoever completes an entry first (response,
// time-out, write failure, child exit, disconnect) removes it; the others find nothing, so
// each request completes exactly once. The waiting coroutine resumes from the event loop,
// never inside the completer, so a caller that reacts by disconnecting cannot pull the
// process out from under the signal that delivered the answer.
class PendingRequests {
    struct Slot {
        std::optional<boost::json::value> value;
        std::exception_ptr error;
        bool done = false;
        std::coroutine_handle<> waiter;
    };

public:
    class Awaiter {
    public:
        explicit Awaiter(std::shared_ptr<Slot> slot) : m_slot(std::move(slot)) {}
        bool await_ready() const noexcept { return m_slot->done; }
        void await_suspend(std::coroutine_handle<> waiter) noexcept { m_slot->waiter = waiter; }
        boost::json::value await_resume();

    private:
        std::shared_ptr<Slot> m_slot;
    };

    Awaiter add(std::int64_t id);
    bool resolve(std::int64_t id, boost::json::value result);
    bool fail(std::int64_t id, std::exception_ptr error);
    void failAll(const std::exception_ptr &error);
    void resolveAll(const boost::json::value &result);
    std::size_t size() const { return m_slots.size(); }

private:
    std::shared_ptr<Slot> take(std::int64_t id);
    static void complete(const std::shared_ptr<Slot> &slot);

    std::unordered_map<std::int64_t, std::shared_ptr<Slot>> m_slots;
};

}
