#include "codec/AviSoundReader.h"

#include <sys/stat.h>

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "codec/FfmpegFunctions.h"

namespace sonarvex {

struct AviSoundReader::Demuxer {
  AVFormatContext* format = nullptr;
  AVPacket* packet = nullptr;
  int stream = -1;
  ~Demuxer() {
    av_packet_free(&packet);
    if (format != nullptr) avformat_close_input(&format);
  }
};

AviSoundReader::AviSoundReader() = default;
AviSoundReader::~AviSoundReader() = default;

void AviSoundReader::Close() {
  d_.reset();
  extra_.clear();
  position_ = statedBytes_ = 0;
}

AviSoundReader::OpenResult AviSoundReader::Open(const std::string& path) {
  Close();
  failure_.clear();
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return OpenResult::CannotOpen;
  if (!ffmpeg::Available()) {
    failure_ = ffmpeg::Error();
    return OpenResult::CannotOpen;
  }
  auto d = std::make_unique<Demuxer>();
  const AVInputFormat* avi = av_find_input_format("avi");
  if (avi == nullptr || avformat_open_input(&d->format, path.c_str(), avi, nullptr) < 0)
    return OpenResult::CannotOpen;
  d->packet = av_packet_alloc();
  if (d->packet == nullptr) return OpenResult::CannotOpen;
  for (unsigned i = 0; i < d->format->nb_streams; ++i) {
    if (d->format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      d->stream = static_cast<int>(i);
      break;
    }
  }
  if (d->stream < 0) return OpenResult::NoSound;
  const AVStream* as = d->format->streams[d->stream];
  const AVCodecParameters* p = as->codecpar;
  format_ = AudioFormatRecord{};
  format_.FormatTag = static_cast<std::uint16_t>(p->codec_tag);
  format_.Channels = static_cast<std::uint16_t>(p->ch_layout.nb_channels);
  format_.SampleRate = static_cast<std::uint32_t>(p->sample_rate);
  format_.AvgBytesPerSec = static_cast<std::uint32_t>(p->bit_rate / 8);
  format_.BlockAlign = static_cast<std::uint16_t>(p->block_align);
  format_.BitsPerSample = static_cast<std::uint16_t>(p->bits_per_coded_sample);
  format_.ExtraSize = 20;
  if (p->extradata != nullptr && p->extradata_size > 0)
    extra_.assign(p->extradata, p->extradata + p->extradata_size);
  // PCM streams state their length in sample frames.
  if (format_.FormatTag == kFormatPcm && format_.BlockAlign > 0 && as->time_base.num == 1 &&
      as->time_base.den == p->sample_rate) {
    std::int64_t frames = as->nb_frames;
    if (frames <= 0 && as->duration != AV_NOPTS_VALUE) frames = as->duration;
    if (frames > 0) statedBytes_ = static_cast<std::uint64_t>(frames) * format_.BlockAlign;
  }
  // Only the sound is wanted.
  for (unsigned i = 0; i < d->format->nb_streams; ++i)
    if (static_cast<int>(i) != d->stream) d->format->streams[i]->discard = AVDISCARD_ALL;
  d_ = std::move(d);
  return OpenResult::Ok;
}

AviSoundReader::ReadResult AviSoundReader::Read(std::vector<std::uint8_t>& block) {
  block.clear();
  if (d_ == nullptr) return ReadResult::Failed;
  for (;;) {
    const int r = av_read_frame(d_->format, d_->packet);
    if (r == AVERROR_EOF) return ReadResult::End;
    if (r < 0) {
      char text[AV_ERROR_MAX_STRING_SIZE] = {0};
      av_strerror(r, text, sizeof text);
      failure_ = text;
      return ReadResult::Failed;
    }
    if (d_->packet->stream_index == d_->stream) {
      block.assign(d_->packet->data, d_->packet->data + d_->packet->size);
      av_packet_unref(d_->packet);
      position_ += block.size();
      return ReadResult::Block;
    }
    av_packet_unref(d_->packet);
  }
}

}  // namespace sonarvex
