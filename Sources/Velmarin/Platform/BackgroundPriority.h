#pragma once

namespace tolvex {

// Lowers the calling thread's scheduling priority (its nice value) once, so
// that decoding on every core never crowds out the GUI thread. Threads of a
// pool that only does background work call it at the start of each job;
// later calls on the same thread do nothing.
void lowerCurrentThreadPriority();

} // namespace tolvex
