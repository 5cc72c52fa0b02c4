#include "codec/WmaWriter.h"

namespace sonarvex {

WriteResult WmaWriter::Open(const TrackTagRecord* /*tag*/, const std::string& /*fileName*/) {
  return WriteResult::Failure(kWmaUnavailableText);
}

WriteResult WmaWriter::Write(const void* /*pcm*/, std::size_t /*byteCount*/) {
  return WriteResult::Failure(kWmaUnavailableText);
}

WriteResult WmaWriter::Close() {
  source_ = CdAudioFormat;
  return WriteResult::Failure(kWmaUnavailableText);
}

void WmaWriter::Abort() { source_ = CdAudioFormat; }

WriteResult WmaWriter::ConvertFile(const std::string& /*source*/, const std::string& /*output*/,
                                   const TrackTagRecord* /*tag*/) {
  return WriteResult::Failure(kWmaUnavailableText);
}

}  // namespace sonarvex
