#include "records/TagBuffer.h"

#include <cstring>

namespace sonarvex {

void TagBuffer::Fit(int trackCount) {
  std::size_t want = static_cast<std::size_t>(trackCount < 0 ? 0 : trackCount) *
                     sizeof(TrackTagRecord);
  if (bytes_.size() != want) bytes_.assign(want, 0);
}

TrackTagRecord TagBuffer::Get(int k, int trackCount) {
  Fit(trackCount);
  TrackTagRecord record{};
  if (k >= 0 && k < Count())
    std::memcpy(&record, bytes_.data() + static_cast<std::size_t>(k) * sizeof record, sizeof record);
  return record;
}

void TagBuffer::Set(int k, int trackCount, const TrackTagRecord& record) {
  Fit(trackCount);
  if (k >= 0 && k < Count())
    std::memcpy(bytes_.data() + static_cast<std::size_t>(k) * sizeof record, &record, sizeof record);
}

}  // namespace sonarvex
