// An orderly end: nothing new starts, and the relay sees the socket closed, not dropped.
#include "companion/companion_model.h"

namespace orvane {

QCoro::Task<void> CompanionModel::shutDown()
{
    started_ = true;
    pollingTimer_.stop();
    pollingTimer_.disconnect();
    co_await relay_->finish(std::chrono::seconds(2));
}

} // namespace orvane
