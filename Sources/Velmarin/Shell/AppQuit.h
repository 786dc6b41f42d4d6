#pragma once

#include <QCoro/QCoroTask>
#include <QDeadlineTimer>

#include <chrono>
#include <functional>
#include <vector>

class QSessionManager;

namespace tolvex {

class Alert;
class AppDelegate;
class Line;

// The quit checks over the delegate's unfinished work: the detail window,
// the editors, the markup session and the clipboard's unsaved input. Every
// way of quitting the user asks for passes here (see
// AppDelegate::applicationShouldTerminate). A termination the user did not
// ask for (a signal, the session ending) cannot be refused: it keeps the
// editors' work instead (keepWork). GUI thread only.
namespace AppQuit {

using AlertRunner = std::function<int(Alert&)>;

// True when the program may end; the checks' alerts run through `runAlert`.
bool mayTerminate(AppDelegate& delegate, const AlertRunner& runAlert);
// How the checks' alerts run: through the line, so that a cover can end
// them. While the line is covered already the line would refuse an alert
// unseen and a refused quit would say nothing; the alert is shown all the
// same, titled with the cover's own words (the checks' texts name no
// material).
int runAlert(Line* line, Alert& alert);
// Every open editor puts what it holds where the recovery window finds it:
// the text editor its text into its session's working file, the note
// editor its draft, the markup session its marks into its working file.
// Returns once each has kept its work or failed to, or once `bound` has
// passed, whatever is not kept by then being lost; the GUI thread handles
// its events meanwhile.
void keepWork(AppDelegate& delegate, std::chrono::milliseconds bound);
// The end of a termination the user did not ask for: the delegate's intake
// stops, the editors keep their work (within
// AppDelegate::terminationKeepBound), and `end` ends the program. Without one every event loop ends and
// the process ends within AppDelegate::terminationBound, whatever still
// runs then.
void endKeepingWork(AppDelegate& delegate, std::function<void()> end);
// Runs the keeps to their ends, however they end, or until `deadline`,
// the GUI thread handling its events meanwhile; true when all ended in time.
bool awaitKeeps(std::vector<QCoro::Task<void>> keeps, QDeadlineTimer deadline);
// The session manager's quit. When the user can be asked, it passes the
// same checks and a refusal keeps the session from ending. When nobody may
// be asked, the session is ending all the same: the editors keep their
// work and the session is let go.
void commitData(AppDelegate& delegate, QSessionManager& manager);

} // namespace AppQuit

} // namespace tolvex
