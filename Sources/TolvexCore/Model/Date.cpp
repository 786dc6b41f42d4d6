#include "TolvexCore/Model/Date.h"

#include <chrono>

namespace tolvex {

Date Date::now()
{
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<nanoseconds>(system_clock::now().time_since_epoch());
    return fromUnixSeconds(static_cast<double>(sinceEpoch.count()) / 1e9);
}

Date Date::distantPast()
{
    return Date{-63114076800.0};
}

} // namespace tolvex
