#define SONARVEX_CURL_NO_REDIRECT
#include "platform/CurlFunctions.h"

#include "platform/LazyLibrary.h"

namespace sonarvex::curl {
namespace {

LazyLibrary& Library() {
  static LazyLibrary library({"libcurl.so.4"});
  return library;
}

}  // namespace

SONARVEX_LAZY_LIBRARY_TABLE(SONARVEX_CURL_FUNCTIONS, Library(), (void)0)

}  // namespace sonarvex::curl
