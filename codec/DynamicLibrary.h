// A shared library loaded at run time by file name (dlopen), released by the
// object that loaded it. A library hidden with SONARVEX_HIDE_LIBRARIES (see
// LazyLibrary::Hidden) does not load.
#pragma once

#include <string>

namespace sonarvex {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  explicit DynamicLibrary(const std::string& fileName) { Load(fileName); }
  ~DynamicLibrary() { Unload(); }
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  bool Load(const std::string& fileName);
  void Unload();
  bool Loaded() const { return handle_ != nullptr; }

  // The address of an exported symbol, or nullptr.
  void* Symbol(const char* name) const;
  // Looks a function up into a typed pointer; false when missing.
  template <typename F>
  bool Find(const char* name, F*& out) const {
    out = reinterpret_cast<F*>(Symbol(name));
    return out != nullptr;
  }

 private:
  void* handle_ = nullptr;
};

}  // namespace sonarvex
