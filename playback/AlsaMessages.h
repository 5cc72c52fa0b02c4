// The ALSA library prints its own lines ("ALSA lib pcm.c:...") on standard
// error when a device of the configuration is missing; the command line says
// what failed in its own words instead.
#pragma once

namespace sonarvex {

// From now on the ALSA library's own error lines are dropped (also when the
// library is loaded later).
void KeepAlsaLibraryMessagesQuiet();

// Whether they are to be dropped; the loader of the library asks.
bool AlsaMessagesQuiet();

}  // namespace sonarvex

// The error handler that drops them (ALSA's snd_lib_error_handler_t).
extern "C" void SonarvexDropAlsaMessage(const char*, int, const char*, int, const char*, ...);
