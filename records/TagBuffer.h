// The tag buffer of the current disc: one TrackTagRecord per track, in track
// order, with the full texts of their fields (keys "<Field>.<k>", e.g.
// "Title.3"; the tag file's companion). Whenever its size no longer matches
// the track count it is replaced by a zero-filled buffer of the right size
// (without texts) before it is read or written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/RecordTexts.h"
#include "records/TextFields.h"
#include "records/TrackTagRecord.h"

namespace sonarvex {

class TagBuffer {
 public:
  // Record k for a disc of trackCount tracks (a copy). k outside the buffer
  // gives a zero-filled record.
  TrackTagRecord Get(int k, int trackCount);
  // Stores record k for a disc of trackCount tracks. The full texts of the
  // fields whose bytes it leaves unchanged are kept.
  void Set(int k, int trackCount, const TrackTagRecord& record);

  // Record k with the full texts of its fields.
  TrackTags GetTags(int k, int trackCount);
  // Stores record k with its full texts.
  void SetTags(int k, int trackCount, const TrackTags& tags);

  // Raw image (trackCount x 1529 bytes) as stored in a tag file.
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  // Replaces the buffer with a raw image (any length: the next access with a
  // track count that does not match it replaces it again); the texts go.
  void Assign(std::vector<std::uint8_t> bytes) {
    bytes_ = std::move(bytes);
    texts_.Clear();
  }
  // The full texts of the whole buffer (keys "<Field>.<k>").
  const RecordTexts& Texts() const { return texts_; }
  void AssignTexts(RecordTexts texts) { texts_ = std::move(texts); }
  // The entries that still match the fields of the records the buffer holds.
  RecordTexts ValidTexts() const;
  void Clear() {
    bytes_.clear();
    texts_.Clear();
  }
  // Takes away the info keys (kAlbumInfoKeys, kTrackInfoKeys) of every track.
  void ClearInfo();
  // Number of whole records the buffer holds.
  int Count() const { return static_cast<int>(bytes_.size() / sizeof(TrackTagRecord)); }

  static std::string Key(TagField f, int k) {
    return std::string(TagFieldName(f)) + "." + std::to_string(k);
  }

 private:
  void Fit(int trackCount);
  std::vector<std::uint8_t> bytes_;
  RecordTexts texts_;
};

}  // namespace sonarvex
