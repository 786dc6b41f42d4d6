#pragma once

#include <chrono>
#include <functional>

namespace tolvex::TerminationSignals {

// Turns SIGTERM, SIGINT and SIGHUP (a logout or shutdown, `kill`, Ctrl+C
// in a terminal) into a call of `onTermination` on the GUI thread, instead
// of ending the program mid-write. Such a termination was not asked for by
// the user and cannot be refused: the call keeps what it can and ends the
// program. Call once, after the application object exists.
void route(std::function<void()> onTermination);

// Ends the process once `bound` has passed, whatever it is still waiting
// for then (a store finishing a write, a picture being encoded): a
// termination keeps its promise to end even when the disk or the store
// hangs. Every file is written atomically, so what was committed stays
// whole. Call once; later calls are ignored.
void endWithin(std::chrono::milliseconds bound);

} // namespace tolvex::TerminationSignals
