#pragma once

#include <cstdint>

#include <sys/statvfs.h>

namespace tolvex {

// The bytes an unprivileged writer may still use on a volume, from its
// statvfs figures: f_bavail blocks of f_frsize bytes (f_bsize where a file
// system leaves the fragment size at 0). A volume that gives no block size
// has no usable figure: StoreError::unavailableSpace, never a silent 0.
std::int64_t availableBytesOfVolume(const struct statvfs& volume);

} // namespace tolvex
