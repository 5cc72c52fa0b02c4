#include "settings/CopyRange.h"

#include <algorithm>

#include "records/RecordTexts.h"

namespace sonarvex {

int CopyRange::TrackCount() const {
  return std::min<int>(album_.TrackCount, kMaxAlbumTracks - 1);
}

AlbumTrackEntry* CopyRange::Entry() {
  if (track_ < 0 || track_ >= TrackCount()) return nullptr;
  return &album_.Tracks[track_];
}

std::string CopyRange::TwoDigitTime(int frames) {
  if (frames < 0) frames = 0;
  Msf m = FramesToMsf(frames);
  return TwoDigits(frames / kFramesPerMinute) + ":" + TwoDigits(m.second) + ":" +
         TwoDigits(m.frame);
}

RangeView CopyRange::Show(int t) {
  track_ = t;
  view_ = RangeView{};
  AlbumTrackEntry* e = Entry();
  if (!e) return view_;
  const int s = e->StartSector;
  const int d = album_.FirstTrackOffset;
  view_.Max = MsfToFrames(e->Length);
  if (!e->RangeFlag) {
    view_.Label1 = "00:00:00 /";
    view_.Label2 = std::to_string(e->Length.minute) + ":" + std::to_string(e->Length.second) + ":" +
                   std::to_string(e->Length.frame);
    view_.Start = 0;
    view_.End = view_.Max;
    return view_;
  }
  int start = MsfToFrames(e->RangeStart) - s - d;
  view_.Start = std::clamp(start, 0, view_.Max);
  view_.Label1 = TwoDigitTime(view_.Start) + " /";
  int end = MsfToFrames(e->RangeEnd) - s - d;
  if (view_.Start < end && end <= view_.Max) {
    view_.End = end;
    view_.Label2 = TwoDigitTime(end);
  } else {
    view_.End = view_.Max;
    view_.Label2 = TwoDigitTime(view_.Max);
  }
  return view_;
}

void CopyRange::StoreRange() {
  AlbumTrackEntry* e = Entry();
  if (!e) return;
  const int base = e->StartSector + album_.FirstTrackOffset;
  e->RangeFlag = 1;
  e->RangeStart = FramesToMsf(base + view_.Start);
  e->RangeEnd = FramesToMsf(base + view_.End);
}

const RangeView& CopyRange::MoveStart(int pos) {
  if (!Entry()) return view_;
  view_.Start = std::clamp(pos, 0, view_.Max);
  view_.Label1 = TwoDigitTime(view_.Start) + " /";
  if (view_.Start >= view_.End) {
    view_.End = view_.Max;
    view_.Label2 = TwoDigitTime(view_.End);
  }
  StoreRange();
  return view_;
}

const RangeView& CopyRange::MoveEnd(int pos) {
  if (!Entry()) return view_;
  view_.End = std::clamp(pos, 0, view_.Max);
  if (view_.Start >= view_.End) {
    view_.Start = 0;
    view_.Label1 = "00:00:00 /";
  }
  view_.Label2 = TwoDigitTime(view_.End);
  StoreRange();
  return view_;
}

Msf CopyRange::PlayFrom() const {
  if (track_ < 0 || track_ >= TrackCount()) return {};
  const AlbumTrackEntry& e = album_.Tracks[track_];
  return e.RangeFlag ? e.RangeStart : e.Start;
}

Msf CopyRange::PlayTo() const {
  if (track_ < 0 || track_ >= TrackCount()) return {};
  const AlbumTrackEntry& e = album_.Tracks[track_];
  if (e.RangeFlag && MsfToFrames(e.RangeEnd) != 0) return e.RangeEnd;
  return album_.Tracks[track_ + 1].Start;
}

}  // namespace sonarvex
