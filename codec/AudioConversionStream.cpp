#include "codec/AudioConversionStream.h"

#include <algorithm>
#include <cstring>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "codec/FfmpegFunctions.h"

namespace sonarvex {
namespace {

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

constexpr std::uint16_t kTagExtensible = 0xFFFE;
constexpr std::uint16_t kTagFloat = 3;

// What the fmt chunk says, with the codec FFmpeg decodes it with.
struct SourceDescription {
  AVCodecID codec = AV_CODEC_ID_NONE;
  int channels = 0;
  int sampleRate = 0;
  std::uint32_t avgBytes = 0;
  int blockAlign = 0;
  int bits = 0;
  std::uint64_t channelMask = 0;
  const std::uint8_t* extra = nullptr;
  std::size_t extraSize = 0;
};

bool IsPcmCodec(AVCodecID id) {
  return id == AV_CODEC_ID_PCM_U8 || id == AV_CODEC_ID_PCM_S16LE || id == AV_CODEC_ID_PCM_S24LE ||
         id == AV_CODEC_ID_PCM_S32LE || id == AV_CODEC_ID_PCM_F32LE || id == AV_CODEC_ID_PCM_F64LE;
}

bool Describe(const std::uint8_t* fmt, std::size_t size, SourceDescription* d) {
  if (fmt == nullptr || size < 16) return false;
  std::uint16_t tag = Get16(fmt);
  d->channels = Get16(fmt + 2);
  d->sampleRate = static_cast<int>(std::min<std::uint32_t>(Get32(fmt + 4), 1u << 30));
  d->avgBytes = Get32(fmt + 8);
  d->blockAlign = Get16(fmt + 12);
  d->bits = Get16(fmt + 14);
  if (size >= 18) {
    std::size_t cb = Get16(fmt + 16);
    d->extra = fmt + 18;
    d->extraSize = std::min(cb, size - 18);
  }
  if (d->channels < 1 || d->channels > 8 || d->sampleRate < 1000 || d->sampleRate > 384000)
    return false;
  if (tag == kTagExtensible) {
    if (d->extraSize < 22) return false;
    d->channelMask = Get32(d->extra + 2);
    tag = Get16(d->extra + 6);  // first two bytes of the sub-format GUID
  }
  if (tag == kFormatPcm) {
    switch (d->bits) {
      case 8: d->codec = AV_CODEC_ID_PCM_U8; break;
      case 16: d->codec = AV_CODEC_ID_PCM_S16LE; break;
      case 24: d->codec = AV_CODEC_ID_PCM_S24LE; break;
      case 32: d->codec = AV_CODEC_ID_PCM_S32LE; break;
      default: return false;
    }
  } else if (tag == kTagFloat) {
    if (d->bits == 32) d->codec = AV_CODEC_ID_PCM_F32LE;
    else if (d->bits == 64) d->codec = AV_CODEC_ID_PCM_F64LE;
    else return false;
  } else {
    const AVCodecTag* tables[] = {avformat_get_riff_audio_tags(), nullptr};
    d->codec = av_codec_get_id(tables, tag);
  }
  if (d->codec == AV_CODEC_ID_NONE) return false;
  if (IsPcmCodec(d->codec)) {
    d->blockAlign = d->channels * (av_get_bits_per_sample(d->codec) / 8);
    d->extra = nullptr;
    d->extraSize = 0;
  }
  return true;
}

void SetLayout(AVChannelLayout* layout, int channels, std::uint64_t mask) {
  av_channel_layout_uninit(layout);
  if (mask != 0 && av_popcount64(mask) == channels) {
    av_channel_layout_from_mask(layout, mask);
  } else {
    av_channel_layout_default(layout, channels);
  }
}

}  // namespace

struct AudioConversionStream::Impl {
  SourceDescription src;
  AVCodecContext* ctx = nullptr;
  AVCodecParserContext* parser = nullptr;
  SwrContext* swr = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  std::vector<std::uint8_t> padded;
  int swrFormat = -1;
  int swrRate = 0;
  AVChannelLayout swrLayout{};
  AVChannelLayout dstLayout{};
  int dstRate = 0;
  int dstChannels = 0;
  std::size_t packetBytes = 0;  // whole codec blocks per packet (no parser)
  bool drained = false;

  ~Impl() {
    swr_free(&swr);
    if (parser) av_parser_close(parser);
    avcodec_free_context(&ctx);
    av_frame_free(&frame);
    av_packet_free(&packet);
    av_channel_layout_uninit(&swrLayout);
    av_channel_layout_uninit(&dstLayout);
  }

  bool Resample(const std::uint8_t** in, int inSamples, std::vector<std::uint8_t>& out) {
    int room = swr_get_out_samples(swr, inSamples);
    if (room < 0) return false;
    if (room == 0) return true;
    std::size_t at = out.size();
    std::size_t frameBytes = static_cast<std::size_t>(dstChannels) * 2;
    out.resize(at + static_cast<std::size_t>(room) * frameBytes);
    std::uint8_t* dst = out.data() + at;
    int got = swr_convert(swr, &dst, room, in, inSamples);
    if (got < 0) {
      out.resize(at);
      return false;
    }
    out.resize(at + static_cast<std::size_t>(got) * frameBytes);
    return true;
  }

  bool EnsureResampler(const AVFrame* f) {
    if (swr != nullptr) {
      if (f->format == swrFormat && f->sample_rate == swrRate &&
          av_channel_layout_compare(&f->ch_layout, &swrLayout) == 0)
        return true;
      return false;  // the stream changed its format half-way: not supported
    }
    if (f->ch_layout.nb_channels < 1) return false;
    if (swr_alloc_set_opts2(&swr, &dstLayout, AV_SAMPLE_FMT_S16, dstRate,
                            const_cast<AVChannelLayout*>(&f->ch_layout),
                            static_cast<AVSampleFormat>(f->format), f->sample_rate, 0,
                            nullptr) < 0 ||
        swr_init(swr) < 0) {
      swr_free(&swr);
      return false;
    }
    swrFormat = f->format;
    swrRate = f->sample_rate;
    av_channel_layout_copy(&swrLayout, &f->ch_layout);
    return true;
  }

  // Takes every frame the decoder has ready.
  bool ReceiveFrames(std::vector<std::uint8_t>& out) {
    for (;;) {
      int r = avcodec_receive_frame(ctx, frame);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return r == AVERROR_INVALIDDATA;  // a broken block is skipped
      bool ok = EnsureResampler(frame) &&
                Resample(const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples,
                         out);
      av_frame_unref(frame);
      if (!ok) return false;
    }
  }

  bool DecodePacket(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
    if (size == 0) return true;
    padded.assign(data, data + size);
    padded.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    av_packet_unref(packet);
    packet->data = padded.data();
    packet->size = static_cast<int>(size);
    int r = avcodec_send_packet(ctx, packet);
    packet->data = nullptr;
    packet->size = 0;
    if (r < 0 && r != AVERROR_INVALIDDATA && r != AVERROR(EAGAIN)) return false;
    return ReceiveFrames(out);
  }

  bool Drain(std::vector<std::uint8_t>& out) {
    if (drained) return true;
    drained = true;
    if (parser) {
      std::uint8_t* pkt = nullptr;
      int pktSize = 0;
      av_parser_parse2(parser, ctx, &pkt, &pktSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
      if (pktSize > 0 && !DecodePacket(pkt, static_cast<std::size_t>(pktSize), out)) return false;
    }
    if (avcodec_send_packet(ctx, nullptr) >= 0 && !ReceiveFrames(out)) return false;
    if (swr != nullptr && !Resample(nullptr, 0, out)) return false;
    return true;
  }
};

AudioConversionStream::AudioConversionStream(std::unique_ptr<Impl> impl,
                                             const AudioFormatRecord& dst)
    : impl_(std::move(impl)), dst_(dst) {}

AudioConversionStream::~AudioConversionStream() = default;

std::unique_ptr<AudioConversionStream> AudioConversionStream::Open(const std::uint8_t* fmt,
                                                                   std::size_t fmtSize,
                                                                   const AudioFormatRecord& dst) {
  if (dst.FormatTag != kFormatPcm || dst.BitsPerSample != 16 || dst.Channels < 1 ||
      dst.Channels > 8 || dst.SampleRate < 1000 || dst.SampleRate > 384000)
    return nullptr;
  if (!ffmpeg::Available()) return nullptr;
  auto impl = std::make_unique<Impl>();
  if (!Describe(fmt, fmtSize, &impl->src)) return nullptr;
  const AVCodec* codec = avcodec_find_decoder(impl->src.codec);
  if (codec == nullptr) return nullptr;
  impl->ctx = avcodec_alloc_context3(codec);
  impl->frame = av_frame_alloc();
  impl->packet = av_packet_alloc();
  if (!impl->ctx || !impl->frame || !impl->packet) return nullptr;
  AVCodecContext* c = impl->ctx;
  c->sample_rate = impl->src.sampleRate;
  SetLayout(&c->ch_layout, impl->src.channels, impl->src.channelMask);
  c->block_align = impl->src.blockAlign;
  c->bit_rate = static_cast<std::int64_t>(impl->src.avgBytes) * 8;
  c->bits_per_coded_sample = impl->src.bits;
  if (impl->src.extraSize > 0) {
    c->extradata = static_cast<std::uint8_t*>(
        av_mallocz(impl->src.extraSize + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!c->extradata) return nullptr;
    std::memcpy(c->extradata, impl->src.extra, impl->src.extraSize);
    c->extradata_size = static_cast<int>(impl->src.extraSize);
  }
  if (avcodec_open2(c, codec, nullptr) < 0) return nullptr;
  if (!IsPcmCodec(impl->src.codec)) impl->parser = av_parser_init(impl->src.codec);
  if (IsPcmCodec(impl->src.codec)) {
    impl->packetBytes = static_cast<std::size_t>(impl->src.blockAlign) * 4096;
  } else if (impl->parser == nullptr) {
    if (impl->src.blockAlign <= 0) return nullptr;  // no way to cut the data into blocks
    impl->packetBytes = static_cast<std::size_t>(impl->src.blockAlign);
  }
  impl->dstRate = static_cast<int>(dst.SampleRate);
  impl->dstChannels = dst.Channels;
  av_channel_layout_default(&impl->dstLayout, dst.Channels);
  return std::unique_ptr<AudioConversionStream>(new AudioConversionStream(std::move(impl), dst));
}

bool AudioConversionStream::SuggestPcmFormat(const std::uint8_t* fmt, std::size_t fmtSize,
                                             AudioFormatRecord* suggested) {
  if (!ffmpeg::Available()) return false;
  SourceDescription d;
  if (!Describe(fmt, fmtSize, &d)) return false;
  AudioFormatRecord f =
      MakePcmFormat(static_cast<std::uint32_t>(d.sampleRate), static_cast<std::uint16_t>(d.channels));
  if (!Open(fmt, fmtSize, f)) return false;
  *suggested = f;
  return true;
}

std::uint32_t AudioConversionStream::DestinationSize(std::uint32_t srcBytes) const {
  const SourceDescription& s = impl_->src;
  std::uint64_t bytes;
  if (IsPcmCodec(s.codec)) {
    std::uint64_t frames = srcBytes / static_cast<std::uint64_t>(s.blockAlign);
    frames = frames * dst_.SampleRate / static_cast<std::uint64_t>(s.sampleRate);
    bytes = frames * dst_.Channels * 2;
  } else if (s.avgBytes > 0) {
    bytes = static_cast<std::uint64_t>(srcBytes) * dst_.AvgBytesPerSec / s.avgBytes;
    bytes -= bytes % (dst_.Channels * 2u);
  } else {
    bytes = static_cast<std::uint64_t>(srcBytes) * 4;
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, 0xFFFFFFF0u));
}

bool AudioConversionStream::Convert(const std::uint8_t* src, std::uint32_t srcLen, bool end,
                                    std::vector<std::uint8_t>& out, std::uint32_t* used) {
  Impl& m = *impl_;
  *used = 0;
  if (m.drained) return true;
  if (m.parser) {
    std::uint32_t pos = 0;
    while (pos < srcLen) {
      std::uint8_t* pkt = nullptr;
      int pktSize = 0;
      int took = av_parser_parse2(m.parser, m.ctx, &pkt, &pktSize, src + pos,
                                  static_cast<int>(srcLen - pos), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
      if (took < 0) return false;
      pos += static_cast<std::uint32_t>(took);
      if (pktSize > 0 && !m.DecodePacket(pkt, static_cast<std::size_t>(pktSize), out)) return false;
      if (took == 0 && pktSize == 0) break;
    }
    *used = pos;
  } else {
    const std::size_t block = static_cast<std::size_t>(m.src.blockAlign);
    std::size_t whole = srcLen - srcLen % block;
    std::size_t pos = 0;
    while (pos < whole) {
      std::size_t n = std::min(m.packetBytes, whole - pos);
      if (!m.DecodePacket(src + pos, n, out)) return false;
      pos += n;
    }
    // The last, partial block of the data goes in as it is.
    if (end && pos < srcLen) {
      if (!m.DecodePacket(src + pos, srcLen - pos, out)) return false;
      pos = srcLen;
    }
    *used = static_cast<std::uint32_t>(pos);
  }
  if (end) return m.Drain(out);
  return true;
}

}  // namespace sonarvex
