#include "platform/LazyLibrary.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace sonarvex {

LazyLibrary::LazyLibrary(std::vector<std::string> files, bool global)
    : files_(std::move(files)), global_(global) {}

bool LazyLibrary::Hidden(const std::string& file) {
  const char* list = std::getenv("SONARVEX_HIDE_LIBRARIES");
  if (list == nullptr) return false;
  std::string_view rest(list);
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view name = rest.substr(0, comma);
    if (!name.empty() && std::string_view(file).substr(0, name.size()) == name) return true;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return false;
}

bool LazyLibrary::Open() {
  for (const std::string& file : files_) {
    if (Hidden(file)) {
      error_ = "Не удалось загрузить библиотеку " + file + ": библиотека скрыта";
      return false;
    }
    void* handle = dlopen(file.c_str(), RTLD_NOW | (global_ ? RTLD_GLOBAL : RTLD_LOCAL));
    if (handle == nullptr) {
      const char* why = dlerror();
      error_ = "Не удалось загрузить библиотеку " + file + (why ? std::string(": ") + why : "");
      return false;
    }
    handles_.push_back(handle);
  }
  return true;
}

void LazyLibrary::Abort() const {
  std::fprintf(stderr, "%s\n", error_.c_str());
  std::abort();
}

void* LazyLibrary::Symbol(const char* name) {
  for (void* handle : handles_)
    if (void* p = dlsym(handle, name)) return p;
  if (error_.empty()) {
    std::string files;
    for (const std::string& f : files_) files += (files.empty() ? "" : ", ") + f;
    error_ = (files_.size() > 1 ? "В библиотеках " : "В библиотеке ") + files + " нет функции " + name;
  }
  return nullptr;
}

}  // namespace sonarvex
