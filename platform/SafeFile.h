// Output files that are created safely and written honestly: created
// exclusively (never through a symbolic link, never truncating what is
// there), every write, flush, sync and close checked, and a result that says
// what failed in words a user can read.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sonarvex {

// What an operation on an output file (or an encoder writing one) ended with.
struct WriteResult {
  enum class Status { Ok, Failed, Cancelled };
  Status status = Status::Ok;
  // For a failure: which file and why, a whole sentence in Russian.
  std::string message;

  static WriteResult Success() { return {}; }
  static WriteResult Failure(std::string text) { return {Status::Failed, std::move(text)}; }
  static WriteResult Cancel() { return {Status::Cancelled, {}}; }

  bool Ok() const { return status == Status::Ok; }
  bool Failed() const { return status == Status::Failed; }
  bool Cancelled() const { return status == Status::Cancelled; }
  explicit operator bool() const { return Ok(); }
};

// "Не удалось создать файл 'PATH': REASON." and the same for writing, with
// the system's text for the error number.
std::string CreateFailureText(const std::string& path, int err);
std::string WriteFailureText(const std::string& path, int err);

// Creates a new regular file for writing (O_CREAT|O_EXCL|O_NOFOLLOW|O_CLOEXEC):
// fails when anything, a symbolic link included, is at path. The file carries
// the program's mark (the extended attribute kOwnFileMark) where the file
// system keeps such attributes, so that a leftover can later be told from a
// user's file of the same name, and an exclusive lock (flock) for as long as
// its descriptor is open (or a FileLockHold keeps it), so that a file another
// run is writing is never taken for a leftover. Where the file system allows
// it the file is made unnamed, marked and locked first and then given its
// name, so that no other run ever sees it unlocked. The descriptor, or -1
// with errno set.
int CreateExclusiveFile(const std::string& path, bool readWrite = false, unsigned mode = 0644);

inline constexpr const char* kOwnFileMark = "user.sonarvex";
// Takes the mark off a finished file (nothing happens where there is none).
void ClearOwnMark(const std::string& path);

// Removes what is at path so that a new file can be created there, without
// ever following a link (a link is removed, not its target). A folder is left
// alone. True when nothing is at path afterwards.
bool RemoveForReplacement(const std::string& path);

// Keeps the lock of the file that is next created at `path` (by
// CreateExclusiveFile, whichever writer calls it) after its writer closes
// it, until the hold ends: a finished partial file stays its run's until it
// has been renamed. Works across threads.
class FileLockHold {
 public:
  FileLockHold() = default;
  explicit FileLockHold(std::string path);
  ~FileLockHold();
  FileLockHold(FileLockHold&& other) noexcept;
  FileLockHold& operator=(FileLockHold&& other) noexcept;
  FileLockHold(const FileLockHold&) = delete;
  FileLockHold& operator=(const FileLockHold&) = delete;
  // Whether a file was created under this hold and is no longer at the
  // path (removed or replaced by somebody else).
  bool LostFile() const;
  void Release();

 private:
  std::string path_;
};

// Whether another open file (of another run, or another writer of this
// one) holds the lock of the file at path. False when nothing is there.
bool LockedByAnotherWriter(const std::string& path);

// A stale partial output from an earlier run.
enum class StaleFile {
  None,     // nothing at the path
  Removed,  // one of the program's own partial files, now removed
  Foreign,  // something else (a link, a folder, another user's or program's file): left alone
  Error,    // it could not be examined or removed (errno set)
  InUse,    // one of the program's own files that a running writer still holds: left alone
};

// A regular file of this user with one link counts as the program's own when
// it carries the program's mark. On a file system without extended
// attributes the content decides: empty, or starting as the program's writers
// start their files ("RIFF....WAVE", "ID3", an MPEG audio frame sync, "OggS",
// "fLaC"). Only a file whose lock is free is stale: one a running writer
// holds is InUse.
bool LooksLikeOwnOutput(const std::uint8_t* head, std::size_t size);
StaleFile RemoveStalePartial(const std::string& path);

// A file being written: created exclusively, buffered, every system call
// checked. After the first failure every later call fails with the same
// message, so a caller that checks only Finish still learns of it.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // an unfinished file is aborted (closed and deleted)
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  WriteResult Create(const std::string& path);
  WriteResult Write(const void* data, std::size_t bytes);
  // Writes at an absolute offset (a header patched at the end); the buffer
  // is flushed first.
  WriteResult WriteAt(std::uint64_t offset, const void* data, std::size_t bytes);
  // Flushes, syncs to disk (when sync) and closes. On failure the file is deleted.
  WriteResult Finish(bool sync = true);
  // Closes and deletes the file (nothing when none is open).
  void Abort();

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }
  // Bytes written so far (the size of the file once flushed).
  std::uint64_t Position() const { return position_; }
  const WriteResult& Error() const { return error_; }

 private:
  WriteResult Flush();
  WriteResult Fail(int err);

  int fd_ = -1;
  std::string path_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t position_ = 0;
  WriteResult error_;
};

}  // namespace sonarvex
