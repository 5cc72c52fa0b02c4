#define SONARVEX_ALSA_NO_REDIRECT
#include "playback/AlsaFunctions.h"

#include "platform/LazyLibrary.h"
#include "playback/AlsaMessages.h"

namespace sonarvex::alsa {
namespace {

LazyLibrary& Library() {
  static LazyLibrary library({"libasound.so.2"});
  return library;
}

}  // namespace

// Once loaded, ALSA's own messages go where the program sends them.
SONARVEX_LAZY_LIBRARY_TABLE(SONARVEX_ALSA_FUNCTIONS, Library(),
                            if (AlsaMessagesQuiet()) table_.snd_lib_error_set_handler(SonarvexDropAlsaMessage))

}  // namespace sonarvex::alsa
