// The Qt GUI thread the data source's windows live on: the host's when the
// host is a Qt program with a QApplication, else one the source runs itself
// (its own QApplication and event loop, on a thread of its own, ended where
// the source is ended).
#pragma once

#include <functional>

// Runs `fn` on the GUI thread (started when the process has none and a
// display answers) and waits at most `timeoutMs`. FALSE when there is no GUI
// thread or it did not finish in time.
bool RunOnDsGuiThread(std::function<void()> fn, unsigned timeoutMs);
// How long the source waits for the GUI thread when it makes or tears down
// a window (30 s; tests shorten it).
unsigned DsGuiCallLimit();
void SetDsGuiCallLimit(unsigned timeoutMs);
// Whether a window shown now has a screen someone looks at: FALSE on the
// platforms that draw into memory only ("offscreen", "minimal"), or when
// there is no GUI thread at all.
bool DsScreenAvailable();
// Ends the source's own Qt runtime (its windows and QApplication, on its
// thread) when one runs: called where the source is ended (its close, a
// refused open). Waits for that end with the call limit, unless called on
// that thread itself, whose loop then ends once the current call returns.
// A later call into the GUI thread starts the runtime again.
void EndDsGuiThread();
