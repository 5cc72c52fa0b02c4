#include "codec/VorbisWriter.h"

#include <fenv.h>
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "codec/DynamicLibrary.h"
#include "codec/Id3v2Writer.h"
#include "codec/SampleOps.h"
#include "codec/WavSourceReader.h"

namespace sonarvex {

struct VorbisWriter::Library {
  DynamicLibrary ogg, vorbis, vorbisenc;
  decltype(&::vorbis_encode_init) encode_init = nullptr;
  decltype(&::vorbis_encode_init_vbr) encode_init_vbr = nullptr;
  decltype(&::vorbis_info_init) info_init = nullptr;
  decltype(&::vorbis_info_clear) info_clear = nullptr;
  decltype(&::vorbis_dsp_clear) dsp_clear = nullptr;
  decltype(&::vorbis_block_init) block_init = nullptr;
  decltype(&::vorbis_block_clear) block_clear = nullptr;
  decltype(&::vorbis_comment_init) comment_init = nullptr;
  decltype(&::vorbis_comment_add) comment_add = nullptr;
  decltype(&::vorbis_comment_add_tag) comment_add_tag = nullptr;
  decltype(&::vorbis_comment_clear) comment_clear = nullptr;
  decltype(&::vorbis_analysis_init) analysis_init = nullptr;
  decltype(&::vorbis_analysis) analysis = nullptr;
  decltype(&::vorbis_analysis_headerout) analysis_headerout = nullptr;
  decltype(&::vorbis_analysis_buffer) analysis_buffer = nullptr;
  decltype(&::vorbis_analysis_wrote) analysis_wrote = nullptr;
  decltype(&::vorbis_analysis_blockout) analysis_blockout = nullptr;
  decltype(&::vorbis_synthesis_headerin) synthesis_headerin = nullptr;
  decltype(&::vorbis_bitrate_addblock) bitrate_addblock = nullptr;
  decltype(&::vorbis_bitrate_flushpacket) bitrate_flushpacket = nullptr;
  decltype(&::ogg_stream_init) stream_init = nullptr;
  decltype(&::ogg_stream_packetin) stream_packetin = nullptr;
  decltype(&::ogg_stream_flush) stream_flush = nullptr;
  decltype(&::ogg_stream_pageout) stream_pageout = nullptr;
  decltype(&::ogg_page_eos) page_eos = nullptr;
  decltype(&::ogg_stream_clear) stream_clear = nullptr;

  bool Load(const std::string& oggName, const std::string& vorbisName, const std::string& encName) {
    if (!ogg.Load(oggName) || !vorbis.Load(vorbisName) || !vorbisenc.Load(encName)) return false;
    return vorbisenc.Find("vorbis_encode_init", encode_init) &&
           vorbisenc.Find("vorbis_encode_init_vbr", encode_init_vbr) &&
           vorbis.Find("vorbis_info_init", info_init) &&
           vorbis.Find("vorbis_info_clear", info_clear) &&
           vorbis.Find("vorbis_dsp_clear", dsp_clear) &&
           vorbis.Find("vorbis_block_init", block_init) &&
           vorbis.Find("vorbis_block_clear", block_clear) &&
           vorbis.Find("vorbis_comment_init", comment_init) &&
           vorbis.Find("vorbis_comment_add", comment_add) &&
           vorbis.Find("vorbis_comment_add_tag", comment_add_tag) &&
           vorbis.Find("vorbis_comment_clear", comment_clear) &&
           vorbis.Find("vorbis_analysis_init", analysis_init) &&
           vorbis.Find("vorbis_analysis", analysis) &&
           vorbis.Find("vorbis_analysis_headerout", analysis_headerout) &&
           vorbis.Find("vorbis_analysis_buffer", analysis_buffer) &&
           vorbis.Find("vorbis_analysis_wrote", analysis_wrote) &&
           vorbis.Find("vorbis_analysis_blockout", analysis_blockout) &&
           vorbis.Find("vorbis_synthesis_headerin", synthesis_headerin) &&
           vorbis.Find("vorbis_bitrate_addblock", bitrate_addblock) &&
           vorbis.Find("vorbis_bitrate_flushpacket", bitrate_flushpacket) &&
           ogg.Find("ogg_stream_init", stream_init) &&
           ogg.Find("ogg_stream_packetin", stream_packetin) &&
           ogg.Find("ogg_stream_flush", stream_flush) &&
           ogg.Find("ogg_stream_pageout", stream_pageout) &&
           ogg.Find("ogg_page_eos", page_eos) && ogg.Find("ogg_stream_clear", stream_clear);
  }
  ~Library() {
    vorbis.Unload();
    vorbisenc.Unload();
    ogg.Unload();
  }
};

struct VorbisWriter::State {
  ogg_stream_state os;
  ogg_page og;
  ogg_packet op;
  vorbis_info vi;
  vorbis_comment vc;
  vorbis_dsp_state vd;
  vorbis_block vb;
};

int OggBitrateFor(std::int32_t index) {
  if (index < 0) index = 0;
  if (index > 10) index = 10;
  return kOggBitrates[index];
}

VorbisWriter::VorbisWriter(const std::string& oggLibrary, const std::string& vorbisLibrary,
                           const std::string& vorbisEncLibrary)
    : lib_(std::make_unique<Library>()), st_(std::make_unique<State>()) {
  loaded_ = lib_->Load(oggLibrary, vorbisLibrary, vorbisEncLibrary);
  // The encoder's float arithmetic must never trap.
  fedisableexcept(FE_ALL_EXCEPT);
}

VorbisWriter::~VorbisWriter() { Abort(); }

float VorbisWriter::EncoderQuality(float thousandths) {
  float q = thousandths * 0.001f;
  if (!(q >= -0.1f)) q = -0.1f;
  if (q > 1.0f) q = 1.0f;
  return q;
}

WriteResult VorbisWriter::WritePage() {
  State& s = *st_;
  WriteResult r = file_.Write(s.og.header, static_cast<std::size_t>(s.og.header_len));
  if (r) r = file_.Write(s.og.body, static_cast<std::size_t>(s.og.body_len));
  if (!r) {
    endOfStream_ = true;
    error_ = r;
  }
  return r;
}

void VorbisWriter::ClearState() {
  if (!stateLive_) return;
  const Library& L = *lib_;
  State& s = *st_;
  L.stream_clear(&s.os);
  L.block_clear(&s.vb);
  L.dsp_clear(&s.vd);
  L.comment_clear(&s.vc);
  L.info_clear(&s.vi);
  stateLive_ = false;
}

WriteResult VorbisWriter::Open(const TrackTagRecord* tag, const std::string& fileName) {
  if (!loaded_)
    return WriteResult::Failure("Кодирование в OGG невозможно т.к. нет необходимых библиотек.");
  if (open_) return WriteResult::Failure(CreateFailureText(fileName, EBUSY));
  const Library& L = *lib_;
  State& s = *st_;
  std::memset(&s, 0, sizeof s);
  endOfStream_ = false;
  error_ = {};
  L.info_init(&s.vi);
  const long channels = source_.Channels;
  const long rate = static_cast<long>(source_.SampleRate);
  int r;
  if (qualityMode_) {
    r = L.encode_init_vbr(&s.vi, channels, rate, EncoderQuality(quality_));
  } else {
    r = L.encode_init(&s.vi, channels, rate, OggBitrateFor(maxIndex_) * 1000L,
                      OggBitrateFor(nominalIndex_) * 1000L, OggBitrateFor(minIndex_) * 1000L);
  }
  if (channels < 1 || r != 0) {
    L.info_clear(&s.vi);
    return WriteResult::Failure("Кодер Ogg Vorbis не принял настройки для файла '" + fileName +
                                "'.");
  }
  L.comment_init(&s.vc);
  if (tag != nullptr) {
    for (const auto& [key, value] : VorbisCommentsFor(FullTag(*tag), cover_.get()))
      L.comment_add_tag(&s.vc, key.c_str(), value.c_str());
  }
  L.analysis_init(&s.vd, &s.vi);
  L.block_init(&s.vd, &s.vb);
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  L.stream_init(&s.os, static_cast<int>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000));
  stateLive_ = true;

  ogg_packet id, comments, codebooks;
  L.analysis_headerout(&s.vd, &s.vc, &id, &comments, &codebooks);
  L.stream_packetin(&s.os, &id);
  L.stream_packetin(&s.os, &comments);
  L.stream_packetin(&s.os, &codebooks);

  if (WriteResult created = file_.Create(fileName); !created) {
    ClearState();
    return created;
  }
  // The headers stand on pages of their own before any audio.
  while (!endOfStream_ && L.stream_flush(&s.os, &s.og) != 0) {
    if (WriteResult w = WritePage(); !w) {
      ClearState();
      file_.Abort();
      return w;
    }
  }
  blockSize_ = static_cast<std::uint32_t>(channels) * 1024;
  open_ = true;
  return {};
}

WriteResult VorbisWriter::WriteFrames(const std::uint8_t* pcm, std::size_t frames) {
  const Library& L = *lib_;
  State& s = *st_;
  const int channels = source_.Channels;
  if (frames > 0) {
    float** buffer = L.analysis_buffer(&s.vd, static_cast<int>(frames));
    for (std::size_t i = 0; i < frames; ++i) {
      for (int c = 0; c < channels; ++c) {
        const std::uint8_t* p = pcm + (i * static_cast<std::size_t>(channels) + c) * 2;
        const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
        buffer[c][i] = v / 32768.0f;
      }
    }
  }
  L.analysis_wrote(&s.vd, static_cast<int>(frames));  // 0 frames: end of stream
  while (!endOfStream_ && L.analysis_blockout(&s.vd, &s.vb) == 1) {
    L.analysis(&s.vb, nullptr);
    L.bitrate_addblock(&s.vb);
    while (!endOfStream_ && L.bitrate_flushpacket(&s.vd, &s.op) == 1) {
      L.stream_packetin(&s.os, &s.op);
      while (!endOfStream_ && L.stream_pageout(&s.os, &s.og) != 0) {
        if (WriteResult r = WritePage(); !r) return r;
        if (L.page_eos(&s.og)) endOfStream_ = true;
      }
    }
  }
  return error_;
}

WriteResult VorbisWriter::Write(const void* pcm, std::size_t byteCount) {
  if (!open_) return WriteResult::Failure("Файл OGG не открыт.");
  if (!error_) return error_;
  if (endOfStream_ || source_.Channels == 0) return {};
  const std::size_t frames = byteCount / (2u * source_.Channels);
  // An empty write must not end the stream: only Close does.
  if (frames == 0) return {};
  WriteResult r = WriteFrames(static_cast<const std::uint8_t*>(pcm), frames);
  if (!r) {
    // Nothing half written stays.
    ClearState();
    file_.Abort();
  }
  return r;
}

WriteResult VorbisWriter::Close() {
  if (!open_) return WriteResult::Failure("Файл OGG не открыт.");
  WriteResult r = error_;
  if (r && !endOfStream_) r = WriteFrames(nullptr, 0);
  ClearState();
  open_ = false;
  error_ = {};
  source_ = CdAudioFormat;
  if (!r) {
    file_.Abort();
    return r;
  }
  return file_.Finish();
}

void VorbisWriter::Abort() {
  ClearState();
  file_.Abort();
  open_ = false;
  error_ = {};
  source_ = CdAudioFormat;
}

WriteResult VorbisWriter::ConvertFile(const std::string& source, const std::string& output,
                                      const TrackTagRecord* tag) {
  WholeFileRules rules;
  rules.blockBytes = [this] { return blockSize_; };
  return ConvertWholeFile(source, output, tag, rules);
}

}  // namespace sonarvex
