#include "playback/AlsaMessages.h"

#include <alsa/asoundlib.h>

namespace sonarvex {
namespace {

extern "C" void DropAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void KeepAlsaLibraryMessagesQuiet() { snd_lib_error_set_handler(DropAlsaMessage); }

}  // namespace sonarvex
