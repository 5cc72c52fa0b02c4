#define SONARVEX_FFMPEG_NO_REDIRECT
#include "codec/FfmpegFunctions.h"

#include "platform/LazyLibrary.h"

namespace sonarvex::ffmpeg {
namespace {

LazyLibrary& Library() {
  static LazyLibrary library({"libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR), "libswresample.so." AV_STRINGIFY(LIBSWRESAMPLE_VERSION_MAJOR), "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR), "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR)});
  return library;
}

}  // namespace

SONARVEX_LAZY_LIBRARY_TABLE(SONARVEX_FFMPEG_FUNCTIONS, Library(), (void)0)

}  // namespace sonarvex::ffmpeg
