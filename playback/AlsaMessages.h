// The ALSA library prints its own lines ("ALSA lib pcm.c:...") on standard
// error when a device of the configuration is missing; the command line says
// what failed in its own words instead.
#pragma once

namespace sonarvex {

// From now on the ALSA library's own error lines are dropped.
void KeepAlsaLibraryMessagesQuiet();

}  // namespace sonarvex
