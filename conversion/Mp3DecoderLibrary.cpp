#include "conversion/Mp3DecoderLibrary.h"

#include <dlfcn.h>

namespace sonarvex {

Mp3DecoderLibrary::~Mp3DecoderLibrary() { Unload(); }

Mp3DecoderLibrary::LoadResult Mp3DecoderLibrary::Load(const std::string& path) {
  Unload();
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) return LoadResult::Missing;
  void* f = ::dlsym(handle_, kMp3DecoderDecoratedName);
  if (f == nullptr) f = ::dlsym(handle_, kMp3DecoderPlainName);
  if (f == nullptr) {
    Unload();
    return LoadResult::NoExport;
  }
  convert_ = reinterpret_cast<MP3_CONVERT_FUNCTION>(f);
  return LoadResult::Loaded;
}

void Mp3DecoderLibrary::Unload() {
  convert_ = nullptr;
  if (handle_ != nullptr) ::dlclose(handle_);
  handle_ = nullptr;
}

}  // namespace sonarvex
