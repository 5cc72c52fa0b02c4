#define SONARVEX_GST_NO_REDIRECT
#include "playback/GstFunctions.h"

#include "platform/LazyLibrary.h"

namespace sonarvex::gst {
namespace {

LazyLibrary& Library() {
  static LazyLibrary library({"libglib-2.0.so.0", "libgobject-2.0.so.0", "libgstreamer-1.0.so.0"}, true);
  return library;
}

}  // namespace

SONARVEX_LAZY_LIBRARY_TABLE(SONARVEX_GST_FUNCTIONS, Library(), (void)0)

}  // namespace sonarvex::gst
