#include "records/TagBuffer.h"

#include <cstring>

#include "platform/Cp1251.h"

namespace sonarvex {

void TagBuffer::Fit(int trackCount) {
  std::size_t want = static_cast<std::size_t>(trackCount < 0 ? 0 : trackCount) *
                     sizeof(TrackTagRecord);
  if (bytes_.size() != want) {
    bytes_.assign(want, 0);
    texts_.Clear();
  }
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
  if (k < 0 || k >= Count()) return;
  char* at = reinterpret_cast<char*>(bytes_.data()) + static_cast<std::size_t>(k) * sizeof record;
  const auto& old = *reinterpret_cast<const TrackTagRecord*>(at);
  for (TagField f : kTagFields) {
    if (FieldText(TagFieldData(old, f), TagFieldSize(f)) !=
        FieldText(TagFieldData(record, f), TagFieldSize(f)))
      texts_.Erase(Key(f, k));
  }
  std::memcpy(at, &record, sizeof record);
}

TrackTags TagBuffer::GetTags(int k, int trackCount) {
  TrackTags t(Get(k, trackCount));
  for (TagField f : kTagFields)
    if (const std::string* text = texts_.Find(Key(f, k))) t.Texts.Put(TagFieldName(f), *text);
  return t;
}

void TagBuffer::SetTags(int k, int trackCount, const TrackTags& tags) {
  Fit(trackCount);
  if (k < 0 || k >= Count()) return;
  std::memcpy(bytes_.data() + static_cast<std::size_t>(k) * sizeof(TrackTagRecord), &tags.Record,
              sizeof(TrackTagRecord));
  const RecordTexts valid = tags.ValidTexts();
  for (TagField f : kTagFields) {
    if (const std::string* text = valid.Find(TagFieldName(f)))
      texts_.Put(Key(f, k), *text);
    else
      texts_.Erase(Key(f, k));
  }
}

RecordTexts TagBuffer::ValidTexts() const {
  std::vector<TextField> fields;
  for (int k = 0; k < Count(); ++k) {
    const auto* r = reinterpret_cast<const TrackTagRecord*>(bytes_.data()) + k;
    for (TagField f : kTagFields) fields.push_back({Key(f, k), TagFieldData(*r, f), TagFieldSize(f)});
  }
  return sonarvex::ValidTexts(texts_, fields.data(), fields.size());
}

}  // namespace sonarvex
