#include "codec/MediaFileDecoder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

// Last: routes the FFmpeg calls above through the table opened on first use.
#include "codec/FfmpegFunctions.h"

namespace sonarvex {

namespace {

constexpr int kCdRate = 44100;

std::string Failure(const std::string& path, const std::string& why) {
  return "Не удалось прочитать файл '" + path + "': " + why + ".";
}

std::string AvError(int err) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(err, text, sizeof text);
  return text;
}

}  // namespace

struct MediaFileDecoder::State {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  SwrContext* swr = nullptr;
  int stream = -1;
  bool inputEnded = false;  // the demuxer is drained and the decoder flushed
  bool ended = false;       // the resampler is drained too
  std::vector<std::uint8_t> pending;  // PCM decoded, not yet handed out
  std::size_t pendingAt = 0;
  ~State() {
    swr_free(&swr);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    if (format != nullptr) avformat_close_input(&format);
  }
};

MediaFileDecoder::MediaFileDecoder() = default;
MediaFileDecoder::~MediaFileDecoder() = default;

void MediaFileDecoder::Close() { s_.reset(); }
bool MediaFileDecoder::IsOpen() const { return s_ != nullptr; }

bool MediaFileDecoder::Open(const std::string& path, std::string* why) {
  Close();
  path_ = path;
  pcmBytes_ = 0;
  auto fail = [&](const std::string& reason) {
    if (why) *why = Failure(path, reason);
    s_.reset();
    return false;
  };
  // Regular files only: never block on a FIFO or a device.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return fail(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return fail("это не обычный файл");
  if (!ffmpeg::Available()) return fail("нет декодера (" + ffmpeg::Error() + ")");
  auto s = std::make_unique<State>();
  int r = avformat_open_input(&s->format, path.c_str(), nullptr, nullptr);
  if (r < 0) return fail("формат файла не распознан (" + AvError(r) + ")");
  if ((r = avformat_find_stream_info(s->format, nullptr)) < 0) return fail(AvError(r));
  const AVCodec* decoder = nullptr;
  s->stream = av_find_best_stream(s->format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (s->stream < 0 || decoder == nullptr) return fail("в нём нет звука, который можно декодировать");
  AVStream* as = s->format->streams[s->stream];
  s->codec = avcodec_alloc_context3(decoder);
  s->packet = av_packet_alloc();
  s->frame = av_frame_alloc();
  if (s->codec == nullptr || s->packet == nullptr || s->frame == nullptr) return fail(std::strerror(ENOMEM));
  if (avcodec_parameters_to_context(s->codec, as->codecpar) < 0 || avcodec_open2(s->codec, decoder, nullptr) < 0)
    return fail("декодер не принял поток");
  sampleRate_ = s->codec->sample_rate;
  channels_ = s->codec->ch_layout.nb_channels;
  codec_ = decoder->name;
  if (sampleRate_ <= 0 || channels_ <= 0) return fail("неизвестный формат звука");

  // The length the file states: the stream's (for Ogg its last granule
  // position less the first), else the container's.
  std::int64_t samples = 0;
  if (as->duration > 0 && as->duration != AV_NOPTS_VALUE)
    samples = av_rescale_q(as->duration, as->time_base, AVRational{1, kCdRate});
  else if (s->format->duration > 0 && s->format->duration != AV_NOPTS_VALUE)
    samples = av_rescale_q(s->format->duration, AVRational{1, AV_TIME_BASE}, AVRational{1, kCdRate});
  if (samples <= 0) return fail("длительность не указана");
  pcmBytes_ = static_cast<std::uint64_t>(samples) * 4u;

  AVChannelLayout stereo{};
  av_channel_layout_default(&stereo, 2);
  if (swr_alloc_set_opts2(&s->swr, &stereo, AV_SAMPLE_FMT_S16, kCdRate, &s->codec->ch_layout, s->codec->sample_fmt,
                          sampleRate_, 0, nullptr) < 0 ||
      swr_init(s->swr) < 0)
    return fail("неизвестный формат звука");
  s_ = std::move(s);
  return true;
}

bool MediaFileDecoder::Refill(std::string* why) {
  State& s = *s_;
  s.pending.clear();
  s.pendingAt = 0;
  auto convert = [&](const std::uint8_t** in, int inSamples) {
    const int room = swr_get_out_samples(s.swr, inSamples);
    if (room <= 0) return;
    const std::size_t at = s.pending.size();
    s.pending.resize(at + static_cast<std::size_t>(room) * 4);
    std::uint8_t* dst = s.pending.data() + at;
    const int got = swr_convert(s.swr, &dst, room, in, inSamples);
    s.pending.resize(at + static_cast<std::size_t>(got > 0 ? got : 0) * 4);
  };
  auto drainFrames = [&] {
    for (;;) {
      const int r = avcodec_receive_frame(s.codec, s.frame);
      if (r < 0) return;  // EAGAIN, the end, or a damaged frame (skipped)
      convert(const_cast<const std::uint8_t**>(s.frame->extended_data), s.frame->nb_samples);
      av_frame_unref(s.frame);
    }
  };
  while (s.pending.empty() && !s.ended) {
    if (s.inputEnded) {
      convert(nullptr, 0);  // what the resampler still holds
      s.ended = true;
      break;
    }
    const int got = av_read_frame(s.format, s.packet);
    if (got == AVERROR_EOF) {
      avcodec_send_packet(s.codec, nullptr);
      drainFrames();
      s.inputEnded = true;
      continue;
    }
    if (got < 0) {
      if (why) *why = Failure(path_, AvError(got));
      return false;
    }
    if (s.packet->stream_index == s.stream) {
      // A damaged packet is skipped; the decoder goes on with the next one.
      avcodec_send_packet(s.codec, s.packet);
      drainFrames();
    }
    av_packet_unref(s.packet);
  }
  return true;
}

bool MediaFileDecoder::Read(std::uint8_t* buffer, std::size_t want, std::size_t* got, std::string* why) {
  *got = 0;
  if (!s_) {
    if (why) *why = Failure(path_, "файл не открыт");
    return false;
  }
  want -= want % 4;
  while (*got < want) {
    State& s = *s_;
    if (s.pendingAt >= s.pending.size()) {
      if (s.ended) break;
      if (!Refill(why)) return false;
      continue;
    }
    const std::size_t n = std::min(want - *got, s.pending.size() - s.pendingAt);
    std::memcpy(buffer + *got, s.pending.data() + s.pendingAt, n);
    s.pendingAt += n;
    *got += n;
  }
  return true;
}

}  // namespace sonarvex
