#include "TolvexCore/Files/VolumeCapacity.h"

#include "TolvexCore/Model/StoreError.h"

#include <limits>

namespace tolvex {

std::int64_t availableBytesOfVolume(const struct statvfs& volume)
{
    const unsigned long blockSize = volume.f_frsize != 0 ? volume.f_frsize : volume.f_bsize;
    if (blockSize == 0)
        throw StoreError::unavailableSpace();
    constexpr auto largest = static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max());
    const auto blocks = static_cast<unsigned long long>(volume.f_bavail);
    if (blocks > largest / blockSize)
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(blocks * blockSize);
}

} // namespace tolvex
