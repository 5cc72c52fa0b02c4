#include "drive/EjectToggle.h"

#include "drive/DriveCommands.h"

namespace sonarvex {

CommandResult EjectToggle::Run(Transport& transport) {
  LockMedium(transport, false);
  const int state = MechanismStatus(transport);
  if (state == 5) counter_ = 1;
  else if (state == 1) counter_ = 0;
  const CommandResult r = StartStopUnit(transport, counter_ % 2 == 0);
  ++counter_;
  return r;
}

}  // namespace sonarvex
