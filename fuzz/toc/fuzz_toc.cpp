// Fuzzes the READ TOC answer parser on the bytes exactly as given (a read
// past them is a read past the input), then the disc model, the CDDB and
// AccurateRip identifiers and the sessions on the table it makes. The
// sessions' values are taken from the input's size and last byte.
#include <cstddef>
#include <cstdint>

#include "accuraterip/AccurateRip.h"
#include "drive/DiscModel.h"
#include "drive/DiscToc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sonarvex;
  const auto parsed = ParseTocAnswer(data, size);
  if (!parsed) {
    // Refused only without a header or without room for a lead-out.
    if (data && size >= 4) {
      const int length = data[0] << 8 | data[1];
      if (length == 0 || length >= 10) __builtin_trap();
    }
    return 0;
  }
  DiscToc toc = *parsed;
  const int n = toc.TrackCount();
  if (n < 0 || n > kMaxTocTracks) __builtin_trap();
  for (const TocTrack& t : toc.tracks)
    if (t.lengthFrames < 0 || t.startLba != t.Frames() - kLeadInFrames)
      __builtin_trap();
  if (toc.leadOut.lengthFrames != 0 || &toc.Descriptor(n) != &toc.leadOut) __builtin_trap();

  SessionInfo sessions;
  sessions.known = size % 2 == 1;
  sessions.firstTrackOfLastSession = data[size - 1];
  sessions.lastSession = static_cast<int>(size % 4);
  ApplySessionInfo(toc, sessions);

  AlbumRecord album{};
  if (FillTracksFromToc(toc, album, false) != n || album.TrackCount != n) __builtin_trap();
  if (static_cast<int>(BuildTrackRows(album, n).size()) != n) __builtin_trap();
  (void)TimePanelText(album, n);
  if ((CddbDiscId(toc) & 0xFF) != static_cast<std::uint32_t>(n)) __builtin_trap();
  const ArToc ar = ArTocOf(toc);
  if (static_cast<int>(ar.tracks.size()) != n) __builtin_trap();
  (void)ComputeArDiscIds(ar);
  return 0;
}
