// The local album database: the folder setting/albums/ beside the program,
// with two files per named disc, both raw images of the in-memory records:
//   "<identifier>.dat"      the 9360-byte AlbumRecord (identifier = the signed
//                           decimal disc identifier, "-" for the top bit set)
//   "<identifier>.dat.tag"  the tag buffer (number of tracks x 1529 bytes)
// and, only when some text does not survive code page 1251, the companion of
// each ("<identifier>.dat.utf8", "<identifier>.dat.tag.utf8", see
// RecordTexts.h) with the full texts. Files are replaced atomically, so a
// failed save keeps what was stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/AlbumRecord.h"
#include "records/RecordTexts.h"
#include "records/TagBuffer.h"

namespace sonarvex {

// programFolder + "setting/albums/".
std::string AlbumFolder(const std::string& programFolder);
// "<signed decimal>.dat".
std::string AlbumFileName(std::int32_t discId);

// The ".dat" files of the folder (extension compared without regard to case),
// in directory listing order, as full paths.
std::vector<std::string> ListAlbumFiles(const std::string& albumFolder);

// The album file whose name (up to its first ".") is the decimal identifier;
// empty when there is none. Names that are not decimal numbers are passed over.
std::string FindAlbumFile(const std::string& albumFolder, std::int32_t discId);

// Reads up to 9360 bytes of an album file over the record (a shorter file
// overwrites only its length); false when it cannot be read.
bool ReadAlbumFile(const std::string& path, AlbumRecord& album);
// Replaces the tag buffer with trackCount records read from the start of the
// tag file, zero-filled beyond its end or when it cannot be read; the texts
// of its companion that match the records come with it.
void ReadTagFile(const std::string& path, int trackCount, TagBuffer& tags);

// Looks the disc up and loads its album record and tags, and into albumTexts
// (when given) the full texts of the album file's companion that match the
// record; false (nothing changed) when the database has no file for it.
bool LoadAlbum(const std::string& albumFolder, std::int32_t discId, AlbumRecord& album,
               TagBuffer& tags, RecordTexts* albumTexts = nullptr);

// The table-of-contents refresh: album holds what the disc itself defines
// (track count, identifier, first-track offset and every row's addresses,
// lengths, sizes and audio flags, the rest zero). Loads the stored album over
// it and puts the disc's own fields back; without a stored album every row is
// titled "Track%d". Returns whether the disc was known.
bool LoadAlbumForDisc(const std::string& albumFolder, AlbumRecord& album, TagBuffer& tags,
                      RecordTexts* albumTexts = nullptr);

// Stores the current disc under its identifier. Nothing is stored when both
// the artist and the album title are empty and every track keeps the title
// the disc alone gives ("Track1"...) with no tags. artistList (the artist box's list,
// UTF-8; may be null) gets the artist added when it does not hold it yet
// (exact comparison). The tag file is written only when the album file was
// and the buffer is not empty. Each file gets its companion when some of its
// texts (albumTexts, the tag buffer's) do not survive code page 1251; one
// left from before is removed otherwise. Returns whether the album file was
// written. problem (when given) says which file could not be written and
// why; it stays empty when everything meant to be stored was.
bool SaveAlbum(const std::string& albumFolder, const AlbumRecord& album, const TagBuffer& tags,
               std::vector<std::string>* artistList = nullptr,
               const RecordTexts* albumTexts = nullptr, std::string* problem = nullptr);

// The distinct artists (UTF-8, in full when a companion holds them) of all
// album files, compared without regard to case, in listing order.
std::vector<std::string> CollectArtists(const std::string& albumFolder);

// Flattens an album folder of the older layout (marker "artn.dat", album files
// in artist sub-folders): every ".dat" and ".tag" file below it is moved into
// the folder itself, the emptied sub-folders are removed and the marker is
// deleted. Does nothing without the marker.
void MigrateAlbumFolder(const std::string& albumFolder);

}  // namespace sonarvex
