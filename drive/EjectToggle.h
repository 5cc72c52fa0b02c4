// The eject/load command of the main window: one command that ejects the
// tray when it is closed and loads it when it is open.
#pragma once

#include "drive/CommandBlock.h"

namespace sonarvex {

class Transport;

class EjectToggle {
 public:
  // An eject asked for by the ripping loop starts a new count.
  void Reset() { counter_ = 0; }
  // Unlocks the tray, asks the mechanism status (door open: the next action
  // is a load; idle: an eject), then ejects on an even count and loads on an
  // odd one. Returns the START STOP UNIT result.
  CommandResult Run(Transport& transport);
  int Counter() const { return counter_; }

 private:
  int counter_ = 0;
};

}  // namespace sonarvex
