// AccurateRip: the checksums of ripped tracks, the disc's identifiers and
// the address of its database entry, the entry's parser and the verdict for
// each track. No network here (ArClient fetches the entry).
//
// Sector offsets are logical block addresses from the start of the program
// area (track 1 usually starts at 0), as READ TOC gives them in LBA form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sonarvex {

inline constexpr std::uint32_t kArSamplesPerSector = 588;
// Five sectors at the start of the first and the end of the last audio
// track are left out of the checksums: drives with different read offsets
// cannot all read them.
inline constexpr std::uint32_t kArSkippedSamples = 5 * kArSamplesPerSector;

struct ArTocTrack {
  std::int32_t start = 0;  // LBA
  bool audio = true;
};

// The table of contents as the checksums and identifiers need it: every
// track (data tracks included) and the disc's lead-out (of its last session).
struct ArToc {
  std::vector<ArTocTrack> tracks;
  std::int32_t leadOut = 0;
};

struct DiscToc;

// The table as the drive read it: every track at its start, the lead-out of
// the disc (of its last session).
ArToc ArTocOf(const DiscToc& toc);

struct ArDiscIds {
  int trackCount = 0;      // audio tracks
  std::uint32_t id1 = 0;   // the audio tracks' offsets added, with the lead-out
  std::uint32_t id2 = 0;   // the offsets multiplied by their numbers, added
  std::uint32_t cddb = 0;  // the CDDB disc identifier of the whole disc
};

// The identifiers: the audio tracks alone count (a data track first, as on
// mixed-mode discs, or last, as on enhanced CDs, is left out) with the
// disc's true lead-out; the CDDB identifier takes every track.
ArDiscIds ComputeArDiscIds(const ArToc& toc);
// The disc's name in the database: "dBAR-010-00164419-00b9f6e2-9e11600b"
// (the audio track count, the two identifiers, the CDDB identifier).
std::string ArDiscName(const ArDiscIds& ids);
// Its entry on the server: that name with ".bin" below
// "/accuraterip/9/1/4/" (the last three digits of the first identifier).
std::string ArEntryPath(const ArDiscIds& ids);

// Where a track's values stand in a database entry: its position in the
// table of contents, 1-based (data tracks keep their places).
int ArEntryIndex(const ArToc& toc, int tocIndex0);

// The checksums of one track, fed with its audio as ripped (16-bit stereo,
// little-endian). v1 adds every sample (left in the low half, right in the
// high half) times its 1-based position; v2 adds the high and the low
// halves of the 64-bit products. The first audio track of the disc leaves
// out its first five sectors but one sample, the last audio track its last
// five sectors.
class ArChecksum {
 public:
  ArChecksum(std::uint64_t totalSamples, bool firstTrack, bool lastTrack);
  void Add(const void* pcm, std::size_t bytes);
  std::uint32_t V1() const { return v1_; }
  std::uint32_t V2() const { return v2_; }
  std::uint64_t SamplesSeen() const { return position_; }

 private:
  std::uint64_t from_ = 1, to_ = 0, position_ = 0;
  std::uint32_t v1_ = 0, v2_ = 0;
  unsigned char carry_[4] = {};
  std::size_t carried_ = 0;
};

// Whether the audio track at tocIndex0 is the first or the last audio track.
bool IsFirstArTrack(const ArToc& toc, int tocIndex0);
bool IsLastArTrack(const ArToc& toc, int tocIndex0);

struct ArTrackValue {
  std::uint8_t confidence = 0;
  std::uint32_t crc = 0;
  std::uint32_t frame450Crc = 0;
};

// One submission (one pressing's values) of a database entry.
struct ArSubmission {
  ArDiscIds ids;
  std::vector<ArTrackValue> tracks;
};

// Every submission of an entry: a track count byte, the three identifiers
// (32 bits, little-endian), then per track a confidence byte, the checksum
// and the offset-finding checksum. False (with the reason) for an entry
// that ends inside a submission or is empty.
bool ParseArEntry(std::string_view bytes, std::vector<ArSubmission>& out, std::string* error);

enum class ArStatus { Match, Mismatch, Absent };
struct ArVerdict {
  ArStatus status = ArStatus::Absent;
  int confidence = 0;  // with Match: the confidences of every submission that matches, added
};

// The verdict for the track at entry index `index` (1-based) with its two
// checksums. Submissions of another disc are ignored; a track with no value
// (none, or only zero confidence) is absent.
ArVerdict VerifyArTrack(const std::vector<ArSubmission>& entry, const ArDiscIds& disc, int index,
                        std::uint32_t v1, std::uint32_t v2);

// "точно (достоверность N)", "не совпадает", "нет в базе".
std::string ArVerdictText(const ArVerdict& v);
// "match N", "mismatch", "absent" (the command line's words).
std::string ArVerdictWord(const ArVerdict& v);
// Eight lower-case hexadecimal digits.
std::string ArHex(std::uint32_t value);

}  // namespace sonarvex
