#include "codec/FfmpegMp3Driver.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include "codec/FfmpegFunctions.h"

namespace sonarvex {
namespace {

void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, static_cast<std::uint16_t>(v));
  Put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

const AVCodec* Mp3Encoder() {
  if (!ffmpeg::Available()) return nullptr;
  const AVCodec* c = avcodec_find_encoder_by_name("libmp3lame");
  if (c == nullptr) c = avcodec_find_encoder(AV_CODEC_ID_MP3);
  return c;
}

AVSampleFormat PickSampleFormat(const AVCodec* codec) {
  const AVSampleFormat* f = codec->sample_fmts;
  if (f == nullptr) return AV_SAMPLE_FMT_S16;
  for (const AVSampleFormat* p = f; *p != AV_SAMPLE_FMT_NONE; ++p)
    if (*p == AV_SAMPLE_FMT_S16P || *p == AV_SAMPLE_FMT_S16) return *p;
  return f[0];
}

AVCodecContext* OpenEncoder(int kbps, std::uint32_t rate, int channels) {
  const AVCodec* codec = Mp3Encoder();
  if (codec == nullptr) return nullptr;
  AVCodecContext* c = avcodec_alloc_context3(codec);
  if (c == nullptr) return nullptr;
  c->bit_rate = static_cast<std::int64_t>(kbps) * 1000;
  c->sample_rate = static_cast<int>(rate);
  c->sample_fmt = PickSampleFormat(codec);
  av_channel_layout_default(&c->ch_layout, channels);
  if (avcodec_open2(c, codec, nullptr) < 0) avcodec_free_context(&c);
  return c;
}

class FfmpegMp3Stream : public AcmEncodeStream {
 public:
  FfmpegMp3Stream(AVCodecContext* enc, SwrContext* swr, const AudioFormatRecord& src,
                  std::uint32_t dstBytesPerSec)
      : enc_(enc), swr_(swr), src_(src), dstBytesPerSec_(dstBytesPerSec) {
    fifo_ = av_audio_fifo_alloc(enc_->sample_fmt, enc_->ch_layout.nb_channels, 4096);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
  }
  ~FfmpegMp3Stream() override {
    av_audio_fifo_free(fifo_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    swr_free(&swr_);
    avcodec_free_context(&enc_);
  }
  bool Valid() const { return fifo_ && frame_ && packet_; }

  std::uint32_t DestinationSize(std::uint32_t srcBytes) const override {
    if (src_.AvgBytesPerSec == 0) return 0;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(srcBytes) * dstBytesPerSec_ +
                                       src_.AvgBytesPerSec - 1) /
                                      src_.AvgBytesPerSec);
  }
  std::uint32_t SourceSize(std::uint32_t dstBytes) const override {
    if (dstBytesPerSec_ == 0) return 0;
    std::uint64_t n = static_cast<std::uint64_t>(dstBytes) * src_.AvgBytesPerSec / dstBytesPerSec_;
    if (src_.BlockAlign > 0) n -= n % src_.BlockAlign;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(n, 0xFFFFFFF0u));
  }

  bool Convert(const std::uint8_t* pcm, std::uint32_t bytes, bool /*start*/,
               std::vector<std::uint8_t>& out) override {
    const int frameBytes = src_.Channels * 2;
    const int inSamples = static_cast<int>(bytes / static_cast<std::uint32_t>(frameBytes));
    if (inSamples == 0) return true;
    return Resample(&pcm, inSamples) && EncodeFull(out, false);
  }

  bool Finish(std::vector<std::uint8_t>& out) override {
    if (!Resample(nullptr, 0)) return false;
    if (!EncodeFull(out, true)) return false;
    if (avcodec_send_frame(enc_, nullptr) < 0) return false;
    return Receive(out);
  }

 private:
  bool Resample(const std::uint8_t** in, int inSamples) {
    int room = swr_get_out_samples(swr_, inSamples);
    if (room <= 0) return room == 0;
    std::uint8_t** planes = nullptr;
    if (av_samples_alloc_array_and_samples(&planes, nullptr, enc_->ch_layout.nb_channels, room,
                                           enc_->sample_fmt, 0) < 0)
      return false;
    int got = swr_convert(swr_, planes, room, in, inSamples);
    bool ok = got >= 0 && av_audio_fifo_write(fifo_, reinterpret_cast<void**>(planes), got) == got;
    av_freep(&planes[0]);
    av_freep(&planes);
    return ok;
  }

  // Feeds whole encoder frames from the FIFO; with last also the short rest.
  bool EncodeFull(std::vector<std::uint8_t>& out, bool last) {
    const int size = enc_->frame_size > 0 ? enc_->frame_size : 1152;
    while (av_audio_fifo_size(fifo_) >= size || (last && av_audio_fifo_size(fifo_) > 0)) {
      int n = std::min(size, av_audio_fifo_size(fifo_));
      av_frame_unref(frame_);
      frame_->nb_samples = (enc_->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) ? n : size;
      frame_->format = enc_->sample_fmt;
      frame_->sample_rate = enc_->sample_rate;
      if (av_channel_layout_copy(&frame_->ch_layout, &enc_->ch_layout) < 0 ||
          av_frame_get_buffer(frame_, 0) < 0)
        return false;
      if (n < frame_->nb_samples)
        av_samples_set_silence(frame_->extended_data, 0, frame_->nb_samples,
                               enc_->ch_layout.nb_channels, enc_->sample_fmt);
      if (av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame_->extended_data), n) != n)
        return false;
      frame_->pts = pts_;
      pts_ += frame_->nb_samples;
      if (avcodec_send_frame(enc_, frame_) < 0) return false;
      if (!Receive(out)) return false;
    }
    return true;
  }

  bool Receive(std::vector<std::uint8_t>& out) {
    for (;;) {
      int r = avcodec_receive_packet(enc_, packet_);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return false;
      out.insert(out.end(), packet_->data, packet_->data + packet_->size);
      av_packet_unref(packet_);
    }
  }

  AVCodecContext* enc_;
  SwrContext* swr_;
  AVAudioFifo* fifo_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  AudioFormatRecord src_;
  std::uint32_t dstBytesPerSec_;
  std::int64_t pts_ = 0;
};

bool SourceUsable(const AudioFormatRecord& src) {
  return src.FormatTag == kFormatPcm && src.BitsPerSample == 16 && src.Channels >= 1 &&
         src.Channels <= 2 && src.SampleRate >= 8000 && src.SampleRate <= 192000 &&
         src.AvgBytesPerSec != 0;
}

}  // namespace

AudioFormatRecord Mp3FormatHeader(const Mp3FormatBytes& f) {
  AudioFormatRecord r{};
  std::memcpy(&r, f.data(), 18);
  return r;
}

Mp3FormatBytes MakeMp3Format(int kbps, std::uint32_t sampleRate, int channels) {
  Mp3FormatBytes f{};
  const bool mpeg1 = sampleRate >= 32000;
  const std::uint32_t slot = mpeg1 ? 144000u : 72000u;
  Put16(&f[0], kFormatMpegLayer3);
  Put16(&f[2], static_cast<std::uint16_t>(channels));
  Put32(&f[4], sampleRate);
  Put32(&f[8], static_cast<std::uint32_t>(kbps) * 125);
  Put16(&f[12], 1);                                           // block align
  Put16(&f[14], 0);                                           // bits per sample
  Put16(&f[16], 12);                                          // extra bytes
  Put16(&f[18], 1);                                           // MPEG id
  Put32(&f[20], 2);                                           // padding off
  Put16(&f[24], static_cast<std::uint16_t>(slot * static_cast<std::uint32_t>(kbps) / sampleRate));
  Put16(&f[26], 1);                                           // frames per block
  Put16(&f[28], 1393);                                        // codec delay
  return f;
}

bool FfmpegMp3Driver::EncoderPresent() { return Mp3Encoder() != nullptr; }

std::string FfmpegMp3Driver::LongName() const {
  const AVCodec* c = Mp3Encoder();
  std::string name = "MPEG Layer-3 Codec (FFmpeg";
  if (c != nullptr) name += std::string(", ") + c->name;
  return name + ")";
}

std::vector<Mp3FormatDetails> FfmpegMp3Driver::Formats() {
  static const int kMpeg1[] = {320, 256, 224, 192, 160, 128, 112, 96, 80, 64, 56, 48, 40, 32};
  static const int kMpeg2[] = {160, 144, 128, 112, 96, 80, 64, 56, 48, 40, 32, 24, 16, 8};
  static const int kMpeg25[] = {64, 56, 48, 40, 32, 24, 16, 8};
  std::vector<Mp3FormatDetails> out;
  auto add = [&](std::uint32_t rate, const int* rates, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      for (int ch = 2; ch >= 1; --ch) {
        Mp3FormatDetails d;
        d.format = MakeMp3Format(rates[i], rate, ch);
        d.description = std::to_string(rates[i]) + " kBit/s, " + std::to_string(rate) + " Hz, " +
                        (ch == 2 ? "Stereo" : "Mono");
        out.push_back(std::move(d));
      }
    }
  };
  add(44100, kMpeg1, std::size(kMpeg1));
  add(22050, kMpeg2, std::size(kMpeg2));
  add(11025, kMpeg25, std::size(kMpeg25));
  return out;
}

bool FfmpegMp3Driver::CanConvert(const AudioFormatRecord& src, const Mp3FormatBytes& dst) {
  const AudioFormatRecord d = Mp3FormatHeader(dst);
  if (Mp3Encoder() == nullptr) return false;
  if (!SourceUsable(src) || d.FormatTag != kFormatMpegLayer3 || d.Channels < 1 ||
      d.Channels > 2)
    return false;
  const int kbps = static_cast<int>(d.AvgBytesPerSec / 125);
  auto key = std::make_tuple(kbps, d.SampleRate, static_cast<int>(d.Channels));
  auto it = tried_.find(key);
  if (it != tried_.end()) return it->second;
  AVCodecContext* c = OpenEncoder(kbps, d.SampleRate, d.Channels);
  // The encoder must keep the bitrate it was asked for.
  const bool ok = c != nullptr && c->bit_rate == static_cast<std::int64_t>(kbps) * 1000;
  avcodec_free_context(&c);
  tried_[key] = ok;
  return ok;
}

std::unique_ptr<AcmEncodeStream> FfmpegMp3Driver::OpenStream(const AudioFormatRecord& src,
                                                             const Mp3FormatBytes& dst) {
  if (!CanConvert(src, dst)) return nullptr;
  const AudioFormatRecord d = Mp3FormatHeader(dst);
  AVCodecContext* enc = OpenEncoder(static_cast<int>(d.AvgBytesPerSec / 125), d.SampleRate, d.Channels);
  if (enc == nullptr) return nullptr;
  AVChannelLayout inLayout{};
  av_channel_layout_default(&inLayout, src.Channels);
  SwrContext* swr = nullptr;
  if (swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &inLayout,
                          AV_SAMPLE_FMT_S16, static_cast<int>(src.SampleRate), 0, nullptr) < 0 ||
      swr_init(swr) < 0) {
    swr_free(&swr);
    avcodec_free_context(&enc);
    return nullptr;
  }
  auto s = std::make_unique<FfmpegMp3Stream>(enc, swr, src, d.AvgBytesPerSec);
  if (!s->Valid()) return nullptr;
  return s;
}

std::vector<std::unique_ptr<AcmMp3Driver>> InstalledMp3Drivers() {
  std::vector<std::unique_ptr<AcmMp3Driver>> drivers;
  if (FfmpegMp3Driver::EncoderPresent()) drivers.push_back(std::make_unique<FfmpegMp3Driver>());
  return drivers;
}

}  // namespace sonarvex
