// The MP3 decoder library (libkelpra.so), loaded from the program's folder
// when the conversion window opens and released when it closes.
#pragma once

#include <string>

#include "kelpra/Mp3DecoderOptions.h"

namespace sonarvex {

inline constexpr const char* kMp3DecoderLibraryName = "libkelpra.so";
inline constexpr const char* kMp3DecoderMissingText = "Нет необходимой библиотеки libkelpra.so";
inline constexpr const char* kMp3DecoderNoExportText =
    "Библиотека libkelpra.so не содержит необходимой функции!";
// The compiler-decorated name of the export, looked up before the plain one.
inline constexpr const char* kMp3DecoderDecoratedName =
    "?ConvertMP3ToWAV@@YAXPAUMP3_DECODER_OPTIONS@@@Z";
inline constexpr const char* kMp3DecoderPlainName = "ConvertMP3ToWAV";

class Mp3DecoderLibrary {
 public:
  enum class LoadResult { Loaded, Missing, NoExport };

  Mp3DecoderLibrary() = default;
  ~Mp3DecoderLibrary();
  Mp3DecoderLibrary(const Mp3DecoderLibrary&) = delete;
  Mp3DecoderLibrary& operator=(const Mp3DecoderLibrary&) = delete;

  // Loads path (a full path: the program's folder + kMp3DecoderLibraryName).
  LoadResult Load(const std::string& path);
  void Unload();
  bool Loaded() const { return convert_ != nullptr; }
  // The loaded entry point; nullptr when not loaded.
  MP3_CONVERT_FUNCTION Convert() const { return convert_; }

 private:
  void* handle_ = nullptr;
  MP3_CONVERT_FUNCTION convert_ = nullptr;
};

}  // namespace sonarvex
