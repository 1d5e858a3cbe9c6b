// The Qt GUI thread the data source's windows live on: the host's when the
// host is a Qt program with a QApplication, else one the source runs itself
// (its own QApplication and event loop, on a thread of its own, ended at
// process exit).
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
// Called after GUI work that may have made Qt globals for the first time
// (a window's first painting): the end of the source's own GUI thread at
// exit is put ahead of them again.
void DsGuiMayHaveMadeGlobals();
