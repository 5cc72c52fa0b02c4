// Output file names of ripped tracks.
//
// Naming works on the full texts (UTF-8, every script) with '\' as the
// folder separator: titles may hold a '\' to make sub-folders. The output
// folder (stored in native form) is turned into that form first, and the
// finished name is turned back into a native path only when a file is
// touched (ToNativePath).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "records/SettingsRecord.h"
#include "records/AlbumRecord.h"
#include "records/RecordTexts.h"
#include "records/TagBuffer.h"

namespace sonarvex {

struct NamingInput {
  const SettingsRecord& Settings;
  const AlbumRecord& Album;
  TagBuffer& Tags;  // with the full texts of the tags
  // The full texts of the album and of the settings (output folder, format
  // string); without them the fields' own texts.
  const RecordTexts* AlbumTexts = nullptr;
  const RecordTexts* SettingsTexts = nullptr;
};

// Artist, album and title of track i (UTF-8), with the fallback texts.
struct TrackNames {
  std::string Artist, Album, Title;
  // Year and genre ("" when unknown) and the disc's number in its release
  // ("1" when unknown).
  std::string Year, Genre, Disc;
};
TrackNames NamesOfTrack(const NamingInput& in, int i);

// The extension of the output format an OutputKind value names (".mp3"),
// ".wav" for a value no format has.
const char* OutputExtension(int outputKind);

// Expands %A, %D, %T, %N (and their Cyrillic letters), %Y (year), %G (genre)
// and %d (disc number) of a format string for track i; any other code ends
// the expansion.
std::string ExpandFormat(std::string_view format, int i, const NamingInput& in);

// Replaces or removes the characters a file name may not hold (control
// characters included: a tab or a line end from a title), from the
// 1-based position `from` on (the characters before it are context only).
std::string FilterFileName(std::string_view s, std::size_t from = 1);

// The output folder of the settings in naming form ('\' separators, UTF-8,
// ending in '\').
std::string OutputFolderForNaming(const SettingsRecord& s, const RecordTexts* texts = nullptr);
// The output folder in full (native form, UTF-8).
std::string OutputFolderText(const SettingsRecord& s, const RecordTexts* texts);

// The relative name below the output folder for track i, filtered, with no
// part that is empty or only dots and no part longer than a file name may be.
std::string RelativeOutputName(int i, const NamingInput& in);

// The full output path of track i in naming form. While the output folder
// does not exist, folderMissing(folder in UTF-8) is called (it shows the
// message and lets the user choose another folder; it returns false when the
// user gave up): then the result is empty.
std::string BuildOutputPath(int i, const NamingInput& in,
                            const std::function<bool(const std::string&)>& folderMissing);

// While a file is written it carries this suffix; the final name is kept
// short enough for the suffix to fit a file name too.
inline constexpr const char* kPartialSuffix = ".part";
inline constexpr std::size_t kMaxFileNameBytes = 255;  // of one path part, in UTF-8

// A native output path with " (n)" before the extension of its file name,
// the stem shortened where the name and its partial suffix would not fit.
std::string NumberedOutputPath(const std::string& nativePath, int n);

// A file name (no folder) cut to the bytes a name may have, at a character
// boundary, keeping its extension and room for the partial suffix.
std::string FitFileName(const std::string& name);

// A format string as the command line takes it: '/' separates folders as
// '\\' does.
std::string FormatFromCommandLine(std::string_view format);

// Naming form to a native path: '\' to '/'.
std::string ToNativePath(std::string_view namingPath);
// Native path to naming form.
std::string ToNamingPath(std::string_view nativePath);

// The message shown for a missing output folder.
std::string MissingFolderMessage(const std::string& folderUtf8);

}  // namespace sonarvex
