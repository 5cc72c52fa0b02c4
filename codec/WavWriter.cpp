#include "codec/WavWriter.h"

#include <cerrno>

#include "codec/WavFile.h"
#include "codec/WavSourceReader.h"

namespace sonarvex {

WavWriter::~WavWriter() { Abort(); }

WriteResult WavWriter::Open(const TrackTagRecord* /*tag*/, const std::string& outputName) {
  if (file_.IsOpen()) return WriteResult::Failure(CreateFailureText(outputName, EBUSY));
  dataBytes_ = 0;
  if (WriteResult r = file_.Create(outputName); !r) return r;
  std::uint8_t header[kWavHeaderSize];
  BuildWavHeader(header, 0, source_);
  header[4] = header[5] = header[6] = header[7] = 0;  // both sizes stay 0 until Close
  if (WriteResult r = file_.Write(header, sizeof header); !r) {
    file_.Abort();
    return r;
  }
  return {};
}

WriteResult WavWriter::Write(const void* pcm, std::size_t byteCount) {
  if (!file_.IsOpen()) return file_.Error().Ok() ? WriteResult::Failure("Файл не открыт.") : file_.Error();
  WriteResult r = file_.Write(pcm, byteCount);
  if (r) dataBytes_ += byteCount;
  return r;
}

WriteResult WavWriter::Close() {
  if (!file_.IsOpen()) return file_.Error();
  // The sizes are 32-bit: a larger file cannot be described.
  if (dataBytes_ > 0xFFFFFFFFull - 40) {
    file_.Abort();
    return WriteResult::Failure(WriteFailureText(file_.Path(), EFBIG));
  }
  std::uint8_t header[kWavHeaderSize];
  BuildWavHeader(header, static_cast<std::uint32_t>(dataBytes_), source_);
  WriteResult r = file_.WriteAt(44, header + 44, 4);
  if (r) r = file_.WriteAt(4, header + 4, 4);
  WriteResult finished = file_.Finish(sync_);  // deletes the file on any failure
  source_ = CdAudioFormat;
  return r ? finished : r;
}

void WavWriter::Abort() {
  file_.Abort();
  source_ = CdAudioFormat;
}

WriteResult WavWriter::ConvertFile(const std::string& sourceWav, const std::string& outputName,
                                   const TrackTagRecord* tag) {
  WholeFileRules rules;
  rules.blockBytes = [] { return 65536u; };
  return ConvertWholeFile(sourceWav, outputName, tag, rules);
}

std::string SourceUnavailableText(const std::string& path) {
  return "Исходный файл '" + path + "' недоступен.";
}

WriteResult AudioWriter::ConvertWholeFile(const std::string& sourceWav,
                                          const std::string& outputName,
                                          const TrackTagRecord* tag, const WholeFileRules& rules) {
  WavSourceReader reader;
  reader.Open(sourceWav, true);
  if (!reader.IsOpen()) {
    if (rules.sourceUnavailable) rules.sourceUnavailable();
    return WriteResult::Failure(SourceUnavailableText(sourceWav));
  }
  source_ = reader.Format();
  if (WriteResult r = Open(tag, outputName); !r) return r;
  WriteResult fed = FeedSamples(reader, rules.blockBytes(), rules.stopAtDataSize, progress_,
                                ConvertGain(), [this](const std::uint8_t* data, std::uint32_t bytes) {
                                  return Write(data, bytes);
                                });
  reader.Close();
  if (fed.Failed() || (!fed && !rules.keepOnCancel)) {
    Abort();  // no half file is left
    return fed;
  }
  // Cancelled and kept: what was encoded so far is finished.
  WriteResult closed = Close();
  return closed ? fed : closed;
}

}  // namespace sonarvex
