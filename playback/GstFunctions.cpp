#define SONARVEX_GST_NO_REDIRECT
#include "playback/GstFunctions.h"

#include <cstdio>
#include <cstdlib>

#include "platform/LazyLibrary.h"

namespace sonarvex::gst {
namespace {

Functions functions;

LazyLibrary& Library() {
  static LazyLibrary library({"libglib-2.0.so.0", "libgobject-2.0.so.0", "libgstreamer-1.0.so.0"}, true);
  return library;
}

}  // namespace

bool Available() {
  return Library().Load([](LazyLibrary& lib) {
    bool ok = true;
#define SONARVEX_GST_FIND(f) ok = lib.Find(#f, functions.f) && ok;
    SONARVEX_GST_FUNCTIONS(SONARVEX_GST_FIND)
#undef SONARVEX_GST_FIND
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

}  // namespace sonarvex::gst
