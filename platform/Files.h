// File helpers: whole-file reads, atomic replacement, folders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonarvex {

// Reads at most maxBytes of a file; nullopt when it cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::string& path,
                                         std::size_t maxBytes = static_cast<std::size_t>(-1));

// Replaces the file at path with data: writes a temporary file in the same
// folder, flushes it to disk and renames it over the target, so that a failure
// at any point leaves the previous file untouched. mode is the new file's
// permission bits (0600 for files that hold a password).
bool WriteFileAtomically(const std::string& path, std::string_view data, unsigned mode = 0644);

bool FileExists(const std::string& path);       // a regular file (or a link to one)
bool DirectoryExists(const std::string& path);  // a folder (or a link to one)

// Creates the folder and its missing parents; true when it exists afterwards.
bool MakeDirectories(const std::string& path);

// Removes an empty folder; fails silently otherwise.
void RemoveEmptyDirectory(const std::string& path);

// Joins a folder and a name with exactly one '/'.
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace sonarvex
