// The ID3v2.3 tag at the start of every MP3 file the program writes, and the
// mapping of a track's tag record to Vorbis comments.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "records/CoverImage.h"
#include "records/TextFields.h"
#include "records/TrackTagRecord.h"

namespace sonarvex {

// Writes the tag at the stream's current position (offset 0 of a new file):
// the header and always the twelve frames TIT2, COMM, TPE1, TALB, TRCK, TCOP,
// TOPE, TCOM, TCON, TYER, TENC, WXXX, no padding. The info keys of the tags
// (what a MusicBrainz lookup gives) follow, each only when it has a text:
// TPE2 album artist, TYER (when the record has no year) and TDAT from the
// release date, TORY original year, TPOS "n/N", TPUB label, TMED media,
// TSRC ISRC, TXXX "MusicBrainz Album Id", "MusicBrainz Artist Id",
// "MusicBrainz Album Artist Id", "MusicBrainz Release Group Id",
// "MusicBrainz Release Track Id", "MusicBrainz Disc Id", "MusicBrainz Album
// Release Country", "CATALOGNUMBER", "BARCODE", and the recording's
// identifier as UFID of "http://musicbrainz.org"; several values of a key
// are joined with "/". ASCII text is written as it
// stands under encoding 0; text with other characters (the full texts, any
// script) as UTF-16 with a byte order mark (encoding 1), characters beyond
// the BMP as surrogate pairs. Nothing when the record's tags-on flag is 0.
// Returns the number of bytes written (0 for no tag); the stream is left at
// the end of the tag.
long WriteId3v2(const TrackTags& tag, std::FILE* out);
long WriteId3v2(const TrackTagRecord& tag, std::FILE* out);

// The tag in memory (empty when the tags-on flag is 0). A cover, when given,
// follows the other frames as an APIC frame of picture type 3 (front cover).
std::vector<unsigned char> BuildId3v2(const TrackTags& tag, const CoverImage* cover = nullptr);
std::vector<unsigned char> BuildId3v2(const TrackTagRecord& tag);

// One TXXX frame (user-defined text) with its 10-byte frame header:
// encoding 0 for ASCII, else UTF-16 with a byte order mark.
std::vector<unsigned char> Id3v2UserTextFrame(std::string_view description, std::string_view text);

// A FLAC picture block's content for a front cover (picture type 3): the
// MIME type, an empty description, width, height, depth, no palette, the
// image; all numbers 32-bit big-endian.
std::vector<unsigned char> FlacPictureBlock(const CoverImage& cover);
// The value of the METADATA_BLOCK_PICTURE Vorbis comment: the picture block
// in base64.
std::string Base64(const std::vector<unsigned char>& bytes);

// The values of an info key ("a; b" gives "a" and "b").
std::vector<std::string> SplitInfoValues(std::string_view text);
// "n/N" of the disc number and count ("n" without a count; empty without a
// number).
std::string DiscNumberText(const TrackTags& tag);

// The Vorbis comments of the info keys other than the album artist and the
// release date, named as MusicBrainz's tagger names them (ORIGINALDATE,
// DISCNUMBER, DISCTOTAL, LABEL, CATALOGNUMBER, BARCODE, RELEASECOUNTRY,
// MEDIA, ISRC, MUSICBRAINZ_ALBUMID, ..._ALBUMARTISTID, ..._RELEASEGROUPID,
// ..._DISCID, ..._TRACKID (the recording), ..._RELEASETRACKID,
// ..._ARTISTID); a key with several values gives a comment for each.
std::vector<std::pair<std::string, std::string>> InfoVorbisComments(const TrackTags& tag);

// The Vorbis comments of a record, in the order they are added: COMMENT,
// TRACKNUMBER, GENRE, DATE, TITLE, ARTIST, ALBUM, each only when its text is
// not empty; values in UTF-8 (the full texts). Then, from the info keys,
// ALBUMARTIST and the comments of InfoVorbisComments; DATE is the release
// date when there is one. Empty when the tags-on flag is 0.
std::vector<std::pair<std::string, std::string>> VorbisCommentsFor(const TrackTags& tag);
// The same with a cover as a METADATA_BLOCK_PICTURE comment at the end.
std::vector<std::pair<std::string, std::string>> VorbisCommentsFor(const TrackTags& tag,
                                                                   const CoverImage* cover);
std::vector<std::pair<std::string, std::string>> VorbisCommentsFor(const TrackTagRecord& tag);

}  // namespace sonarvex
