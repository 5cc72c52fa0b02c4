// The xmcd record of a CDDB read turned into the album record, the track
// titles and the per-track tags of the current disc.
#pragma once

#include <string_view>

#include "records/AlbumRecord.h"
#include "records/RecordTexts.h"
#include "records/TagBuffer.h"

namespace sonarvex {

class AlbumView;
class Dialogs;

// Parses the body of a read answer (its status line first). Each line is
// taken as UTF-8 when it is valid UTF-8, else as code page 1251. A keyword
// that comes again continues its value. Values are cut to their fields'
// lengths in characters; the album's texts go into albumTexts and the tags'
// into the tag buffer's texts in full, the fields get their CP1251
// renderings. A DISCID that does not name the disc of album.CddbId gives a
// warning and parsing goes on. view may be null. False when the answer holds
// neither the disc title nor any track title.
bool ParseXmcd(std::string_view body, AlbumRecord& album, RecordTexts& albumTexts,
               TagBuffer& tags, Dialogs& dialogs, AlbumView* view);
// The same without the album's full texts (what CP1251 cannot hold is lost).
bool ParseXmcd(std::string_view body, AlbumRecord& album, TagBuffer& tags, Dialogs& dialogs,
               AlbumView* view);

// Number of tracks of a record, limited to the rows it holds (99 plus lead-out).
int AlbumTrackCount(const AlbumRecord& album);

}  // namespace sonarvex
