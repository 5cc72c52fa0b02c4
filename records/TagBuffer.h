// The tag buffer of the current disc: one TrackTagRecord per track, in track
// order. Whenever its size no longer matches the track count it is replaced by
// a zero-filled buffer of the right size before it is read or written.
#pragma once

#include <cstdint>
#include <vector>

#include "records/TrackTagRecord.h"

namespace sonarvex {

class TagBuffer {
 public:
  // Record k for a disc of trackCount tracks (a copy). k outside the buffer
  // gives a zero-filled record.
  TrackTagRecord Get(int k, int trackCount);
  // Stores record k for a disc of trackCount tracks.
  void Set(int k, int trackCount, const TrackTagRecord& record);

  // Raw image (trackCount x 1529 bytes) as stored in a tag file.
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  // Replaces the buffer with a raw image (any length: the next access with a
  // track count that does not match it replaces it again).
  void Assign(std::vector<std::uint8_t> bytes) { bytes_ = std::move(bytes); }
  void Clear() { bytes_.clear(); }
  // Number of whole records the buffer holds.
  int Count() const { return static_cast<int>(bytes_.size() / sizeof(TrackTagRecord)); }

 private:
  void Fit(int trackCount);
  std::vector<std::uint8_t> bytes_;
};

}  // namespace sonarvex
