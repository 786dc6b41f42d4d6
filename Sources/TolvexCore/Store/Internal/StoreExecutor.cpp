#include "TolvexCore/Store/Internal/StoreExecutor.h"

namespace tolvex {

StoreExecutor::StoreExecutor(std::shared_ptr<StoreContext> context) : context_(std::move(context))
{
    pool_.setMaxThreadCount(1);
    // The one thread lives as long as the store: no thread is started per call.
    pool_.setExpiryTimeout(-1);
}

StoreExecutor::~StoreExecutor()
{
    // A suspending operation may be staging on the shared pool with its last
    // half still to come; wait for that half before the pool goes away.
    for (int pending = inFlight_->load(); pending != 0; pending = inFlight_->load())
        inFlight_->wait(pending);
    pool_.waitForDone();
}

} // namespace tolvex
