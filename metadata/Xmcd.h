// The xmcd record of a CDDB read turned into the album record, the track
// titles and the per-track tags of the current disc.
#pragma once

#include <string_view>

#include "records/AlbumRecord.h"
#include "records/TagBuffer.h"

namespace sonarvex {

class AlbumView;
class Dialogs;

// Parses the body of a read answer (its status line first). A body that is
// valid UTF-8 holding non-ASCII text is converted to code page 1251 first; any
// other body is taken as code page 1251. Values are cut to their fields. A
// DISCID that does not name the disc of album.CddbId gives a warning and
// parsing goes on. view may be null. Always returns true.
bool ParseXmcd(std::string_view body, AlbumRecord& album, TagBuffer& tags, Dialogs& dialogs,
               AlbumView* view);

// Number of tracks of a record, limited to the rows it holds (99 plus lead-out).
int AlbumTrackCount(const AlbumRecord& album);

}  // namespace sonarvex
