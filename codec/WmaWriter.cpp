#include "codec/WmaWriter.h"

namespace sonarvex {

bool WmaWriter::Open(const std::string& /*fileName*/, int /*bitrateIndex*/, bool /*drm*/) {
  return false;
}

int WmaWriter::Write(const void* pcm, std::size_t /*byteCount*/) {
  if (pcm == nullptr || unavailable_ != 0) return 1;
  return 0;
}

void WmaWriter::Close(const TrackTagRecord* /*tag*/) { source_ = CdAudioFormat; }

void WmaWriter::ConvertFile(const std::string& /*source*/, const std::string& /*output*/,
                            const TrackTagRecord* /*tag*/, bool /*drm*/, int /*bitrateIndex*/) {}

}  // namespace sonarvex
