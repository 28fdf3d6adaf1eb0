#include "appserver/pending_requests.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace orvane {

boost::json::value PendingRequests::Awaiter::await_resume()
{
    if (m_slot->error)
        std::rethrow_exception(m_slot->error);
    return std::move(*m_slot->value);
}

PendingRequests::Awaiter PendingRequests::add(std::int64_t id)
{
    auto slot = std::make_shared<Slot>();
    m_slots[id] = slot;
    return Awaiter(std::move(slot));
}

std::shared_ptr<PendingRequests::Slot> PendingRequests::take(std::int64_t id)
{
    auto found = m_slots.find(id);
    if (found == m_slots.end())
        return nullptr;
    auto slot = std::move(found->second);
    m_slots.erase(found);
    return slot;
}

bool PendingRequests::resolve(std::int64_t id, boost::json::value result)
{
    auto slot = take(id);
    if (!slot)
        return false;
    slot->value = std::move(result);
    complete(slot);
    return true;
}

bool PendingRequests::fail(std::int64_t id, std::exception_ptr error)
{
    auto slot = take(id);
    if (!slot)
        return false;
    slot->error = std::move(error);
    complete(slot);
    return true;
}

void PendingRequests::failAll(const std::exception_ptr &error)
{
    auto taken = std::exchange(m_slots, {});
    for (auto &[id, slot] : taken) {
        slot->error = error;
        complete(slot);
    }
}

void PendingRequests::resolveAll(const boost::json::value &result)
{
    auto taken = std::exchange(m_slots, {});
    for (auto &[id, slot] : taken) {
        slot->value = result;
        complete(slot);
    }
}

void PendingRequests::complete(const std::shared_ptr<Slot> &slot)
{
    slot->done = true;
    if (auto waiter = std::exchange(slot->waiter, {}))
        QMetaObject::invokeMethod(QCoreApplication::instance(), [waiter] { waiter.resume(); },
                                  Qt::QueuedConnection);
}

}
