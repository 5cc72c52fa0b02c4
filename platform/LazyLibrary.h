// A system library opened on first use rather than linked. FFmpeg,
// GStreamer, ALSA and libcurl each pull in dozens of libraries of their own
// (codecs, TLS, X11, ...), and a linked library is loaded and initialised by
// every start of every command; most commands need none of them.
//
// A user of such a library keeps a table of function pointers filled by
// Load() and calls through it. The library stays loaded until the program
// ends (GStreamer and FFmpeg keep threads and registries that must not be
// unloaded under them).
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
