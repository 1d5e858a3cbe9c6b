// A tool window that can have work under way when the main frame goes (the
// SD viewer with a card read in flight): the main frame asks it to stop and
// closes once it has.
#pragma once

#include <functional>

class IToolWindow {
 public:
  virtual ~IToolWindow() = default;
  // False when nothing is under way. Otherwise the tool stops its work and
  // returns true; `stopped` is then called once, from a message of its own,
  // when the work has ended (or the tool has gone).
  virtual bool StopBeforeClose(std::function<void()> stopped) = 0;
};
