// The media search of the main window: a folder tree walked for files whose
// extensions are in the user's list, the size texts of what was found, and
// the M3U list of the ticked files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sonarvex {

// What the walk asks of its owner.
struct MediaSearchHost {
  // Each folder as it is entered (the window shows it in FindLabel).
  std::function<void(const std::string& folder)> enteringFolder;
  // Before each entry: lets the user act; true stops the whole search.
  std::function<bool()> cancelled;
};

// Walks folder (depth first, in the order the file system lists entries;
// folders whose names begin with "." are skipped, unreadable ones passed
// over) and returns the full paths of the files whose extension, in lower
// case, is one of `extensions` (".mp3"). `*cancelled` is set when the host
// stopped the walk.
std::vector<std::string> SearchMediaFiles(const std::string& folder,
                                          const std::vector<std::string>& extensions,
                                          const MediaSearchHost& host, bool* cancelled = nullptr);

// "512Byte", "1Kb", "3Mb": the size column of a found file.
std::string FoundFileSizeText(std::uint64_t bytes);

// The M3U list: "#EXTM3U" and one path a line, lines ended by CR LF, UTF-8,
// replacing the file atomically. False with the reason in *error.
bool WriteM3uList(const std::string& path, const std::vector<std::string>& files,
                  std::string* error);

}  // namespace sonarvex
