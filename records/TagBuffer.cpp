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

namespace {

// "<key>.<k>" of an info key: the key and k; false for other keys.
bool SplitInfoKey(std::string_view full, std::string_view& key, int& k) {
  const std::size_t dot = full.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == full.size()) return false;
  int n = 0;
  for (char c : full.substr(dot + 1)) {
    if (c < '0' || c > '9' || n > 1000) return false;
    n = n * 10 + (c - '0');
  }
  key = full.substr(0, dot);
  k = n;
  return IsTrackInfoKey(key);
}

std::string InfoKey(std::string_view key, int k) {
  return std::string(key) + "." + std::to_string(k);
}

}  // namespace

TrackTags TagBuffer::GetTags(int k, int trackCount) {
  TrackTags t(Get(k, trackCount));
  for (TagField f : kTagFields)
    if (const std::string* text = texts_.Find(Key(f, k))) t.Texts.Put(TagFieldName(f), *text);
  for (const auto& [full, text] : texts_.Entries()) {
    std::string_view key;
    int of = 0;
    if (SplitInfoKey(full, key, of) && of == k) t.Texts.Put(key, text);
  }
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
  auto info = [&](const char* key) {
    if (const std::string* text = valid.Find(key))
      texts_.Put(InfoKey(key, k), *text);
    else
      texts_.Erase(InfoKey(key, k));
  };
  for (const char* key : kAlbumInfoKeys) info(key);
  for (const char* key : kTrackInfoKeys) info(key);
}

void TagBuffer::ClearInfo() {
  std::vector<std::string> gone;
  for (const auto& [full, text] : texts_.Entries()) {
    std::string_view key;
    int k = 0;
    if (SplitInfoKey(full, key, k)) gone.push_back(full);
  }
  for (const std::string& full : gone) texts_.Erase(full);
}

RecordTexts TagBuffer::ValidTexts() const {
  std::vector<TextField> fields;
  for (int k = 0; k < Count(); ++k) {
    const auto* r = reinterpret_cast<const TrackTagRecord*>(bytes_.data()) + k;
    for (TagField f : kTagFields) fields.push_back({Key(f, k), TagFieldData(*r, f), TagFieldSize(f)});
  }
  RecordTexts valid = sonarvex::ValidTexts(texts_, fields.data(), fields.size());
  for (const auto& [full, text] : texts_.Entries()) {
    std::string_view key;
    int k = 0;
    if (SplitInfoKey(full, key, k) && k < Count()) valid.Put(full, text);
  }
  return valid;
}

}  // namespace sonarvex
