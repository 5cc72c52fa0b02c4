// Secure reading of audio: every block is read twice with the drive's cache
// read away in between, and the sectors whose two reads differ (or that the
// drive flags in its C2 error pointers) are read again one by one until two
// reads agree or the limit is reached. What never agrees is reported by its
// sector, so that the rip can name the places in the track.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "rip/RipPipeline.h"

namespace sonarvex {

struct SecureReadResult {
  // False: the drive reported a failure for a read of the whole block (the
  // caller tries again or finds the unreadable sector); the buffer then
  // holds nothing to be used.
  bool ok = true;
  // Stopped from outside (SetKeepGoing) before every sector agreed.
  bool cancelled = false;
  // The sectors (as the drive was asked for them) whose reads never agreed,
  // in order; the buffer holds their last read.
  std::vector<std::uint32_t> suspect;
  // How many sectors of the block had to be read again.
  int reread = 0;
};

class SecureReader {
 public:
  // How far from the block the read that empties the drive's cache goes: a
  // minute of audio (about 10 MB), beyond any drive's cache.
  static constexpr std::uint32_t kCacheDistance = 4500;

  struct Options {
    // At most this many more reads of a sector whose reads disagree.
    int rereads = 16;
    // Whether the drive's C2 error pointers are read (where it has them): a
    // sector with a pointer set never counts as agreeing.
    bool c2 = true;
    std::uint32_t cacheDistance = kCacheDistance;
  };

  SecureReader(RipDrive& drive, Options options);

  // Asked between the re-reads of a block; false stops them (the program is
  // stopping).
  void SetKeepGoing(std::function<bool()> keepGoing) { keepGoing_ = std::move(keepGoing); }

  // Reads sectors lba .. lba+count-1 into buffer (count x 2352 bytes).
  SecureReadResult ReadBlock(std::uint8_t* buffer, std::uint32_t lba, std::uint32_t count);

  // Whether the reads use the C2 error pointers.
  bool UsesC2() const { return useC2_; }

 private:
  // One read of the block, with its C2 pointers when they are used.
  bool Read(std::uint8_t* buffer, std::uint8_t* c2, std::uint32_t lba, std::uint32_t count);
  // A read far from the block, so that the next read of the block comes
  // from the disc and not from the drive's cache.
  void DefeatCache(std::uint32_t lba, std::uint32_t count);

  RipDrive& drive_;
  Options options_;
  bool useC2_;
  std::function<bool()> keepGoing_;
  std::vector<std::uint8_t> second_, c2First_, c2Second_, one_, c2One_, far_, c2Far_;
};

}  // namespace sonarvex
