// The copy range of the tracks of the album copy, as the two sliders of the
// page "Записи" show and edit it. Positions are frames (75 a second) from the
// track's start; the range fields hold absolute addresses.
#pragma once

#include <string>

#include "records/AlbumRecord.h"

namespace sonarvex {

// What the page shows for a track.
struct RangeView {
  int Max = 0;         // both sliders: the track's length L
  int Start = 0;       // SecBar
  int End = 0;         // EndBar
  std::string Label1;  // LabelTime1 ("mm:ss:ff /")
  std::string Label2;  // LabelTime2
};

class CopyRange {
 public:
  explicit CopyRange(AlbumRecord& album) : album_(album) {}

  int TrackCount() const;
  // Shows track t without touching its range.
  RangeView Show(int t);
  const RangeView& View() const { return view_; }
  int Track() const { return track_; }

  // The start slider moved by hand (or by the play position) to pos: the
  // range flag is set and the range follows the sliders; an end at or before
  // the start goes to the track's end.
  const RangeView& MoveStart(int pos);
  // The end slider moved to pos; a start at or after the end goes to 0.
  const RangeView& MoveEnd(int pos);

  // The addresses a play of the shown track runs between: the range when it
  // is set (an end of 0:00:00 means the next track's start), else the track.
  Msf PlayFrom() const;
  Msf PlayTo() const;

  // "mm:ss:ff" with two digits each.
  static std::string TwoDigitTime(int frames);

 private:
  AlbumTrackEntry* Entry();
  void StoreRange();

  AlbumRecord& album_;
  int track_ = -1;
  RangeView view_;
};

}  // namespace sonarvex
