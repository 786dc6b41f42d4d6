#pragma once

namespace tolvex {

// Gives the memory the C library keeps from freed blocks back to the system.
// Decoding a picture allocates its full size (a screenshot is tens of MiB) on
// each worker, and the library keeps such blocks in each thread's heap once
// freed, so a burst of decodes leaves the process hundreds of MiB larger than
// what it holds. Call it after such a burst, on a worker thread: it walks
// every heap and may take milliseconds.
void releaseFreedMemory();

} // namespace tolvex
