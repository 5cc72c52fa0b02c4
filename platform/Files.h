// File helpers: whole-file reads, atomic replacement, folders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonarvex {

// Reads at most maxBytes of a regular file; nullopt when it cannot be opened
// or read, or is not a regular file. Opening never blocks: a FIFO or a device
// at path is refused, not waited on. problem (when given) says why a file
// that is there was not read; it stays empty when nothing is at path.
std::optional<std::string> ReadFileBytes(const std::string& path,
                                         std::size_t maxBytes = static_cast<std::size_t>(-1),
                                         std::string* problem = nullptr);

// Opens a regular file for reading without blocking on a FIFO or a device:
// O_NONBLOCK first, then fstat. The descriptor, or -1 with errno set (EINVAL
// for something that is not a regular file) and problem saying why.
int OpenRegularFile(const std::string& path, std::string* problem = nullptr);

// "'PATH' не является обычным файлом" for EINVAL from OpenRegularFile, else
// "не удалось прочитать файл 'PATH': REASON".
std::string ReadProblemText(const std::string& path, int err);

// Replaces the file at path with data: writes a temporary file in the same
// folder, flushes it to disk and renames it over the target, so that a failure
// at any point leaves the previous file untouched. mode is the new file's
// permission bits (0600 for files that hold a password).
bool WriteFileAtomically(const std::string& path, std::string_view data, unsigned mode = 0644);

bool FileExists(const std::string& path);       // a regular file (or a link to one)
bool DirectoryExists(const std::string& path);  // a folder (or a link to one)

// Creates the folder and its missing parents; true when it exists afterwards
// (else errno says why).
bool MakeDirectories(const std::string& path);

// Removes an empty folder; fails silently otherwise.
void RemoveEmptyDirectory(const std::string& path);

// Joins a folder and a name with exactly one '/'.
std::string JoinPath(std::string_view folder, std::string_view name);

// The file a name written in a cue sheet (or a like list of files) stands
// for: backslashes are folder separators, a relative name is taken from
// `folder`. Sheets written on systems whose file names ignore letter case
// may name CDDA.BIN for cdda.bin: a part of the name that is not there as
// written is looked up again without regard to case (Latin and Cyrillic
// letters), and taken when exactly one entry of its folder matches. The
// path is set in any case (as written when nothing matches, so that opening
// it fails as usual); false, with `problem` (Russian, for the user) naming
// the candidates, when several entries differ from the name only in case.
bool ResolveListedFile(std::string_view folder, std::string_view name, std::string* path,
                       std::string* problem);

}  // namespace sonarvex
