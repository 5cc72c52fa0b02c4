// Tags added to files that are already finished (what is only known after
// the audio: the ReplayGain of a track and of its album). Each call sets the
// given tags in the file, replacing tags of the same name (in any case) and
// keeping every other tag and the audio as they are.
//
// The file is never lost on failure: where the new tags fit into the room the
// file keeps for them (the padding of FLAC's metadata and of an ID3v2 tag)
// only that region is rewritten, with one write of the same size; otherwise
// the whole file is written anew beside it and renamed over it, so that the
// old file stays whole until the new one is complete and synced.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/SafeFile.h"

namespace sonarvex {

using TagPairs = std::vector<std::pair<std::string, std::string>>;

// FLAC: Vorbis comments of the VORBIS_COMMENT block (made after STREAMINFO
// when the file has none).
WriteResult SetFlacComments(const std::string& path, const TagPairs& tags);
// Ogg Vorbis and Ogg Opus: the comments of the comment header (Vorbis) or
// OpusTags packet. The header pages are paginated anew; the audio pages are
// copied, renumbered when the header takes another number of pages.
WriteResult SetOggComments(const std::string& path, const TagPairs& tags);
// MP3: TXXX frames of the ID3v2 tag at the start (version 2.3 or 2.4), one
// per tag, the tag's name as the frame's description; a tag is put in front
// of a file that has none.
WriteResult SetId3v2UserTexts(const std::string& path, const TagPairs& tags);

}  // namespace sonarvex
