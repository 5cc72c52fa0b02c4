#define SONARVEX_FFMPEG_NO_REDIRECT
#include "codec/FfmpegFunctions.h"

#include <cstdio>
#include <cstdlib>

#include "platform/LazyLibrary.h"

namespace sonarvex::ffmpeg {
namespace {

Functions functions;

LazyLibrary& Library() {
  static LazyLibrary library({"libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR), "libswresample.so." AV_STRINGIFY(LIBSWRESAMPLE_VERSION_MAJOR), "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR), "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR)});
  return library;
}

}  // namespace

bool Available() {
  return Library().Load([](LazyLibrary& lib) {
    bool ok = true;
#define SONARVEX_FFMPEG_FIND(f) ok = lib.Find(#f, functions.f) && ok;
    SONARVEX_FFMPEG_FUNCTIONS(SONARVEX_FFMPEG_FIND)
#undef SONARVEX_FFMPEG_FIND
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

}  // namespace sonarvex::ffmpeg
