// The faults the software drive can be told to show: unreadable, jittered,
// short or silently corrupted reads, a drive that is not ready or never
// answers, a medium taken out while reading or writing, failing writes.
// Tests switch them on with VirtualDrive::SetFaults, users on a line of
// setting/vdrives.lst (VirtualDriveList.h).
#pragma once

#include <cstdint>
#include <limits>

namespace sonarvex {

// Faults a test can switch on at any time.
struct VirtualDriveFaults {
  // Audio reads touching LBAs first..last fail with a medium error.
  std::int32_t failReadsFirst = -1, failReadsLast = -1;
  // Every n-th audio read fails with a medium error (0: never).
  int failEveryNthRead = 0;
  // Every second audio read returns data shifted by this many bytes.
  int jitterBytes = 0;
  // The next n commands answer "becoming ready" (2/04/01).
  int notReadyCommands = 0;
  // After this many audio reads the medium is gone (-1: never).
  int removeMediumAfterReads = -1;
  // Audio reads of this LBA return it with some of its bytes changed and
  // GOOD status, as a scratch a drive does not notice reads (kNever: none).
  std::int32_t corruptSectorLba = std::numeric_limits<std::int32_t>::min();
  // Flaky sectors: audio reads of LBAs flakyFirst..flakyLast return them
  // with some bytes changed and GOOD status on their first flakyWrongReads
  // reads (counted per sector; -1: on every read) and right after that, as
  // a dirty disc reads. The wrong bytes differ from one read to the next
  // unless flakySameWrong says they repeat (then only the drive's C2 error
  // pointers give them away). A READ CD that asks for C2 error pointers gets
  // the changed bytes flagged when flakyC2 is on.
  std::int32_t flakyFirst = std::numeric_limits<std::int32_t>::min();
  std::int32_t flakyLast = std::numeric_limits<std::int32_t>::min();
  int flakyWrongReads = 1;
  bool flakySameWrong = false;
  bool flakyC2 = true;
  // Audio reads transfer this many bytes less than asked.
  std::uint32_t shortReadBytes = 0;
  // Commands never complete: the caller waits until its time-out.
  bool neverAnswer = false;
  // A WRITE touching this LBA fails with a write error (3/0C/00); the drive
  // moves on past it as a real one does.
  static constexpr std::int32_t kNever = std::numeric_limits<std::int32_t>::min();
  std::int32_t failWriteAtLba = kNever;
  // After this many WRITE commands the medium is gone (-1: never).
  int removeMediumAfterWrites = -1;
};

}  // namespace sonarvex
