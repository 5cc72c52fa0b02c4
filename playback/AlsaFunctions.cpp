#define SONARVEX_ALSA_NO_REDIRECT
#include "playback/AlsaFunctions.h"

#include <cstdio>
#include <cstdlib>

#include "platform/LazyLibrary.h"
#include "playback/AlsaMessages.h"

namespace sonarvex::alsa {
namespace {

Functions functions;

LazyLibrary& Library() {
  static LazyLibrary library({"libasound.so.2"});
  return library;
}

}  // namespace

bool Available() {
  return Library().Load([](LazyLibrary& lib) {
    bool ok = true;
#define SONARVEX_ALSA_FIND(f) ok = lib.Find(#f, functions.f) && ok;
    SONARVEX_ALSA_FUNCTIONS(SONARVEX_ALSA_FIND)
#undef SONARVEX_ALSA_FIND
    if (ok && AlsaMessagesQuiet()) functions.snd_lib_error_set_handler(SonarvexDropAlsaMessage);
    return ok;
  });
}

bool Loaded() { return Library().Loaded(); }

std::string Error() {
  Available();
  return Library().Error();
}

const Functions& Api() {
  if (!Available()) {
    std::fprintf(stderr, "%s\n", Library().Error().c_str());
    std::abort();
  }
  return functions;
}

}  // namespace sonarvex::alsa
