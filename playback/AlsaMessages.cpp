#include "playback/AlsaMessages.h"

#include <alsa/asoundlib.h>

#include <atomic>

#include "playback/AlsaFunctions.h"

extern "C" void SonarvexDropAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

namespace sonarvex {
namespace {

std::atomic<bool> quiet{false};

}  // namespace

void KeepAlsaLibraryMessagesQuiet() {
  quiet = true;
  // Not loaded yet: the loader installs the handler when it loads.
  if (alsa::Loaded()) snd_lib_error_set_handler(SonarvexDropAlsaMessage);
}

bool AlsaMessagesQuiet() { return quiet; }

}  // namespace sonarvex
