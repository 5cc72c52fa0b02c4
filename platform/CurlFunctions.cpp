#define SONARVEX_CURL_NO_REDIRECT
#include "platform/CurlFunctions.h"

#include <cstdio>
#include <cstdlib>

#include "platform/LazyLibrary.h"

namespace sonarvex::curl {
namespace {

Functions functions;

LazyLibrary& Library() {
  static LazyLibrary library({"libcurl.so.4"});
  return library;
}

}  // namespace

bool Available() {
  return Library().Load([](LazyLibrary& lib) {
    bool ok = true;
#define SONARVEX_CURL_FIND(f) ok = lib.Find(#f, functions.f) && ok;
    SONARVEX_CURL_FUNCTIONS(SONARVEX_CURL_FIND)
#undef SONARVEX_CURL_FIND
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

}  // namespace sonarvex::curl
