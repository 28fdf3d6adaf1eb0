#include "companion/refresh_trigger.h"

#include <QPointer>

#include <array>

namespace orvane {

RefreshTrigger::RefreshTrigger(Refresh refresh, std::chrono::milliseconds spacing, QObject *parent)
    : QObject(parent), refresh_(std::move(refresh)), spacing_(spacing)
{
    spacingTimer_.setSingleShot(true);
    // A coarse timer may fire a little early; the spacing is checked again on firing anyway.
    spacingTimer_.setTimerType(Qt::PreciseTimer);
    connect(&spacingTimer_, &QTimer::timeout, this, &RefreshTrigger::startWhenDue);
}

bool RefreshTrigger::startsRefresh(std::string_view method, bool serverRequest)
{
    constexpr std::array<std::string_view, 4> prefixes{"thread/", "turn/", "item/", "account/"};
    if (serverRequest || method == "error")
        return true;
    for (auto prefix : prefixes) {
        if (method.starts_with(prefix))
            return true;
    }
    return false;
}

void RefreshTrigger::onMessage(std::string_view method, bool serverRequest)
{
    if (startsRefresh(method, serverRequest))
        request();
}

void RefreshTrigger::request()
{
    if (waiting_)
        return;
    waiting_ = true;
    if (!running_)
        startWhenDue();
}

void RefreshTrigger::startWhenDue()
{
    if (running_ || !waiting_)
        return;
    if (lastStart_) {
        const auto due = *lastStart_ + spacing_;
        const auto now = std::chrono::steady_clock::now();
        if (now < due) {
            spacingTimer_.start(std::chrono::ceil<std::chrono::milliseconds>(due - now));
            return;
        }
    }
    waiting_ = false;
    run();
}

QCoro::Task<void> RefreshTrigger::run()
{
    running_ = true;
    lastStart_ = std::chrono::steady_clock::now();
    QPointer<RefreshTrigger> self(this);
    co_await refresh_();
    if (!self)
        co_return;
    running_ = false;
    startWhenDue();
}

} // namespace orvane
