// A system library opened on first use rather than linked. FFmpeg,
// GStreamer, ALSA and libcurl each pull in dozens of libraries of their own
// (codecs, TLS, X11, ...), and a linked library is loaded and initialised by
// every start of every command; most commands need none of them.
//
// A user of such a library keeps a table of function pointers filled by
// Load() and calls through it. The library stays loaded until the program
// ends (GStreamer and FFmpeg keep threads and registries that must not be
// unloaded under them). platform/LazyLibraryApi.h declares a table and
// its functions; SONARVEX_LAZY_LIBRARY_TABLE below defines them.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace sonarvex {

class LazyLibrary {
 public:
  // files: the run-time names of the library files, opened in this order
  // (a library before the ones that need it); global: their symbols serve
  // libraries opened later (GStreamer's plug-ins).
  explicit LazyLibrary(std::vector<std::string> files, bool global = false);
  LazyLibrary(const LazyLibrary&) = delete;
  LazyLibrary& operator=(const LazyLibrary&) = delete;

  // Opens the files and calls resolve once (thread-safe); later calls give
  // the first call's answer. resolve looks the functions up with Symbol()
  // and returns false when one is missing (Missing() names it).
  template <typename Resolve>
  bool Load(Resolve&& resolve) {
    std::call_once(once_, [&] {
      loaded_ = Open() && resolve(*this);
      if (!loaded_ && error_.empty()) error_ = "не удалось загрузить библиотеку";
    });
    return loaded_;
  }
  bool Loaded() const { return loaded_; }

  // A function of one of the opened files (the first that has it), or
  // nullptr; a missing function is recorded for Error().
  void* Symbol(const char* name);
  template <typename F>
  bool Find(const char* name, F*& out) {
    out = reinterpret_cast<F*>(Symbol(name));
    return out != nullptr;
  }

  // Why the library could not be used, in Russian, naming the file:
  // "Не удалось загрузить библиотеку libavcodec.so.59: ..." or
  // "В библиотеке libcurl.so.4 нет функции curl_multi_poll". Empty when
  // loaded.
  const std::string& Error() const { return error_; }
  // Ends the program with Error() on stderr: a call through the table of a
  // library that is not there.
  [[noreturn]] void Abort() const;

  // Files whose names begin with a name listed (comma-separated) in the
  // environment variable SONARVEX_HIDE_LIBRARIES ("libavcodec.so,libcurl")
  // are treated as missing; tests use it to see the program without a
  // library.
  static bool Hidden(const std::string& file);

 private:
  bool Open();

  std::vector<std::string> files_;
  bool global_;
  std::vector<void*> handles_;
  std::once_flag once_;
  std::atomic<bool> loaded_{false};
  std::string error_;
};

}  // namespace sonarvex

// Defines, in the namespace of a library's table (a struct Functions of
// pointers named after LIST's functions), what every table offers:
//   bool Available();  opens the library (LIBRARY: a LazyLibrary) on the
//                      first call and finds every function of LIST; then
//                      runs AFTER_LOAD, a statement, once.
//   bool Loaded();     true when an earlier call loaded it.
//   std::string Error();  why it cannot be used (Russian, naming the file).
//   const Functions& Api();  the table; a call without the library ends the
//                      program with Error() on stderr.
#define SONARVEX_LAZY_LIBRARY_FIND(f) ok = lib.Find(#f, table_.f) && ok;
#define SONARVEX_LAZY_LIBRARY_TABLE(LIST, LIBRARY, AFTER_LOAD)                \
  namespace {                                                                  \
  Functions table_;                                                            \
  }                                                                            \
  bool Available() {                                                           \
    return (LIBRARY).Load([](::sonarvex::LazyLibrary& lib) {                   \
      bool ok = true;                                                          \
      LIST(SONARVEX_LAZY_LIBRARY_FIND)                                         \
      if (ok) { AFTER_LOAD; }                                                  \
      return ok;                                                               \
    });                                                                        \
  }                                                                            \
  bool Loaded() { return (LIBRARY).Loaded(); }                                 \
  std::string Error() {                                                        \
    Available();                                                               \
    return (LIBRARY).Error();                                                  \
  }                                                                            \
  const Functions& Api() {                                                     \
    if (!Available()) (LIBRARY).Abort();                                       \
    return table_;                                                             \
  }
