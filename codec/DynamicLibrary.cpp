#include "codec/DynamicLibrary.h"

#include <dlfcn.h>

#include "platform/LazyLibrary.h"

namespace sonarvex {

bool DynamicLibrary::Load(const std::string& fileName) {
  Unload();
  if (fileName.empty()) return false;
  // A library hidden for a test counts as not installed.
  if (LazyLibrary::Hidden(fileName)) return false;
  handle_ = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
  return handle_ != nullptr;
}

void DynamicLibrary::Unload() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return dlsym(handle_, name);
}

}  // namespace sonarvex
