#include "codec/WmaFileReader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "codec/EncoderSet.h"
#include "codec/WavFile.h"
#include "platform/Cp1251.h"

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

// A file whose decoded sound ends this much before its stated duration was
// cut short.
constexpr std::uint32_t kTruncationToleranceMs = 1000;

std::string ReadFailureText(const std::string& path, const std::string& why) {
  return "Не удалось прочитать файл '" + path + "': " + why + ".";
}

std::string AvError(int err) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(err, text, sizeof text);
  return text;
}

std::uint64_t Le64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// The duration an ASF file's header states (its File Properties: the play
// duration less the preroll), in milliseconds; 0 when the header has none
// or the file is a broadcast. libavformat drops this figure when the file is
// shorter than the header says, which is exactly when it is needed: the
// sound of a cut file ends before it.
std::uint32_t StatedAsfDurationMs(const std::string& path) {
  static const std::uint8_t kHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                           0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  static const std::uint8_t kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9,
                                                   0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0,
                                                   0x0C, 0x20, 0x53, 0x65};
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  std::vector<std::uint8_t> head(64 * 1024);
  head.resize(std::fread(head.data(), 1, head.size(), f));
  std::fclose(f);
  if (head.size() < 30 || std::memcmp(head.data(), kHeader, 16) != 0) return 0;
  const std::uint64_t headerSize = std::min<std::uint64_t>(Le64(head.data() + 16), head.size());
  std::uint64_t at = 30;
  while (at + 24 <= headerSize) {
    const std::uint8_t* o = head.data() + at;
    const std::uint64_t size = Le64(o + 16);
    if (size < 24 || size > headerSize - at) break;
    if (std::memcmp(o, kFileProperties, 16) == 0 && size >= 104) {
      const std::uint64_t play = Le64(o + 64);  // 100 ns units
      const std::uint64_t preroll = Le64(o + 80);  // ms
      const std::uint32_t flags = static_cast<std::uint32_t>(Le64(o + 88) & 0xFFFFFFFFu);
      if ((flags & 1u) != 0) return 0;  // broadcast: no duration
      const std::uint64_t ms = play / 10000;
      if (ms <= preroll) return 0;
      return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms - preroll, 0xFFFFFFFFu));
    }
    at += size;
  }
  return 0;
}

}  // namespace

struct WmaFileReader::Source {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  SwrContext* swr = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;
  int outChannels = 2;
  AVRational timeBase{1, 1000};

  ~Source() {
    swr_free(&swr);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    if (format != nullptr) avformat_close_input(&format);
  }
};

bool WmaFileReader::DecoderAvailable() {
  return ffmpeg::Available() && av_find_input_format("asf") != nullptr && avcodec_find_decoder(AV_CODEC_ID_WMAV1) &&
         avcodec_find_decoder(AV_CODEC_ID_WMAV2);
}

WmaFileReader::WmaFileReader(EncoderSet* encoders, bool toMp3)
    : encoders_(encoders), toMp3_(toMp3) {}

WmaFileReader::~WmaFileReader() { Close(); }

bool WmaFileReader::Open(const std::string& source, const std::string& output) {
  Close();
  source_ = source;
  output_ = output;
  openFailure_.clear();
  done_ = false;
  durationMs_ = 0;
  tags_ = TrackTagRecord{};
  auto fail = [&](const std::string& why) {
    openFailure_ = why;
    src_.reset();
    return false;
  };
  if (toMp3_ && encoders_ == nullptr) return fail("нет кодера MP3");
  // Regular files only: never block on a FIFO or a device.
  struct stat st{};
  if (::stat(source.c_str(), &st) != 0) return fail(ReadFailureText(source, std::strerror(errno)));
  if (!S_ISREG(st.st_mode)) return fail(ReadFailureText(source, std::strerror(EINVAL)));

  if (!ffmpeg::Available()) return fail("нет декодера WMA (" + ffmpeg::Error() + ")");
  auto s = std::make_unique<Source>();
  const AVInputFormat* asf = av_find_input_format("asf");
  if (asf == nullptr) return fail("нет декодера WMA");
  int r = avformat_open_input(&s->format, source.c_str(), asf, nullptr);
  if (r < 0) return fail(ReadFailureText(source, "это не файл Windows Media (" + AvError(r) + ")"));
  if ((r = avformat_find_stream_info(s->format, nullptr)) < 0)
    return fail(ReadFailureText(source, AvError(r)));
  const AVCodec* decoder = nullptr;
  s->stream = av_find_best_stream(s->format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (s->stream < 0 || decoder == nullptr)
    return fail(ReadFailureText(source, "нет звука, который можно декодировать"));
  AVStream* as = s->format->streams[s->stream];
  s->timeBase = as->time_base;
  s->codec = avcodec_alloc_context3(decoder);
  s->packet = av_packet_alloc();
  s->frame = av_frame_alloc();
  if (s->codec == nullptr || s->packet == nullptr || s->frame == nullptr)
    return fail(ReadFailureText(source, std::strerror(ENOMEM)));
  if (avcodec_parameters_to_context(s->codec, as->codecpar) < 0 ||
      avcodec_open2(s->codec, decoder, nullptr) < 0)
    return fail(ReadFailureText(source, "декодер не принял поток"));

  // The duration the file states ("Duration").
  durationMs_ = StatedAsfDurationMs(source);
  if (durationMs_ == 0 && s->format->duration > 0 && s->format->duration != AV_NOPTS_VALUE)
    durationMs_ = static_cast<std::uint32_t>(
        std::min<std::int64_t>(s->format->duration / (AV_TIME_BASE / 1000), 0xFFFFFFFF));
  else if (durationMs_ == 0 && as->duration > 0 && as->duration != AV_NOPTS_VALUE)
    durationMs_ = static_cast<std::uint32_t>(av_rescale_q(as->duration, as->time_base, {1, 1000}));
  if (durationMs_ == 0) return fail(ReadFailureText(source, "длительность не указана"));

  // 16-bit PCM at the source's rate, one or two channels.
  const int rate = s->codec->sample_rate;
  const int inChannels = s->codec->ch_layout.nb_channels;
  if (rate <= 0 || inChannels <= 0) return fail(ReadFailureText(source, "неизвестный формат звука"));
  s->outChannels = inChannels == 1 ? 1 : 2;
  AVChannelLayout outLayout{};
  av_channel_layout_default(&outLayout, s->outChannels);
  if (swr_alloc_set_opts2(&s->swr, &outLayout, AV_SAMPLE_FMT_S16, rate, &s->codec->ch_layout,
                          s->codec->sample_fmt, rate, 0, nullptr) < 0 ||
      swr_init(s->swr) < 0)
    return fail(ReadFailureText(source, "неизвестный формат звука"));
  format_ = MakePcmFormat(static_cast<std::uint32_t>(rate), static_cast<std::uint16_t>(s->outChannels));
  format_.ExtraSize = 20;

  if (toMp3_) {
    if (rate != 44100) return fail("частота дискретизации " + std::to_string(rate) + " Гц, а не 44100 Гц");
    // The file's attributes become the tag of the MP3 file.
    struct Key {
      const char* name;
      char* field;
      std::size_t size;
    };
    const Key keys[] = {{"title", tags_.Title, sizeof tags_.Title},
                        {"artist", tags_.Artist, sizeof tags_.Artist},
                        {"album", tags_.Album, sizeof tags_.Album},
                        {"comment", tags_.Comment, sizeof tags_.Comment},
                        {"genre", tags_.Genre, sizeof tags_.Genre},
                        {"date", tags_.Year, sizeof tags_.Year},
                        {"track", tags_.TrackNumber, sizeof tags_.TrackNumber}};
    for (const Key& k : keys) {
      const AVDictionaryEntry* e = av_dict_get(s->format->metadata, k.name, nullptr, 0);
      if (e == nullptr && std::strcmp(k.name, "track") == 0)
        e = av_dict_get(s->format->metadata, "WM/Track", nullptr, 0);
      if (e == nullptr || e->value == nullptr) continue;
      SetField(k.field, k.size, Utf8ToCp1251(e->value));
      tags_.TagsOn = 1;
    }
  }
  src_ = std::move(s);
  return true;
}

bool WmaFileReader::Start() {
  if (src_ == nullptr || thread_.joinable()) {
    result_ = WriteResult::Failure(ReadFailureText(source_, "файл не открыт"));
    return false;
  }
  if (toMp3_) {
    const std::size_t slash = output_.rfind('/');
    const std::size_t dot = output_.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
      output_.erase(dot);
    output_ += ".mp3";
  }
  part_ = output_ + ".part";
  result_ = {};
  done_ = false;
  stop_ = false;
  position_ = 0;
  delivered_ = 0;
  // A partial file of an earlier run is replaced; anything else there is not.
  const StaleFile stale = RemoveStalePartial(part_);
  if (stale == StaleFile::Foreign || stale == StaleFile::Error) {
    result_ = WriteResult::Failure(CreateFailureText(part_, EEXIST));
    return false;
  }
  if (toMp3_) {
    encoders_->SetSourceFormat(&format_);
    WriteResult r = encoders_->Open(tags_.TagsOn == 1 ? &tags_ : nullptr, part_, OutputKind::Mp3);
    if (!r) {
      result_ = r;
      return false;
    }
    mp3Open_ = true;
  } else {
    WriteResult r = wav_.Create(part_);
    std::uint8_t header[kWavHeaderSize];
    BuildWavHeader(header, 0, format_);
    if (r) r = wav_.Write(header, sizeof header);
    if (!r) {
      wav_.Abort();
      result_ = r;
      return false;
    }
  }
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (...) {
    Discard();
    result_ = WriteResult::Failure(ReadFailureText(source_, std::strerror(EAGAIN)));
    return false;
  }
  return true;
}

WriteResult WmaFileReader::Deliver(const std::uint8_t* pcm, std::size_t bytes, std::uint32_t timeMs) {
  if (bytes == 0) return {};
  std::lock_guard<std::mutex> hold(lock_);
  WriteResult r;
  if (toMp3_) {
    r = encoders_->Write(pcm, bytes);
  } else if (delivered_ + bytes > 0xFFFFFFFFull - kWavHeaderSize) {
    r = WriteResult::Failure(WriteFailureText(output_, EFBIG));
  } else {
    r = wav_.Write(pcm, bytes);
  }
  if (!r) return r;
  position_.store(timeMs, std::memory_order_relaxed);
  delivered_.fetch_add(bytes, std::memory_order_relaxed);
  return {};
}

void WmaFileReader::Run() {
  Source& s = *src_;
  std::vector<std::uint8_t> out;
  std::uint32_t endMs = 0;  // where the decoded sound ends
  auto drainFrames = [&]() -> WriteResult {
    for (;;) {
      int r = avcodec_receive_frame(s.codec, s.frame);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return {};
      if (r < 0) return {};  // a damaged frame is skipped
      const int room = swr_get_out_samples(s.swr, s.frame->nb_samples);
      out.resize(static_cast<std::size_t>(room > 0 ? room : 0) * s.outChannels * 2 + 16);
      std::uint8_t* dst = out.data();
      const int got = swr_convert(s.swr, &dst, room, const_cast<const std::uint8_t**>(s.frame->extended_data),
                                  s.frame->nb_samples);
      std::uint32_t timeMs = endMs;
      if (s.frame->pts != AV_NOPTS_VALUE) {
        const std::int64_t startMs = av_rescale_q(s.frame->pts, s.timeBase, {1, 1000});
        const std::int64_t lenMs =
            static_cast<std::int64_t>(s.frame->nb_samples) * 1000 / s.codec->sample_rate;
        if (startMs + lenMs > 0) timeMs = static_cast<std::uint32_t>(startMs + lenMs);
      } else {
        timeMs = static_cast<std::uint32_t>(
            (delivered_ + static_cast<std::uint64_t>(got > 0 ? got : 0) * s.outChannels * 2) * 1000 /
            (static_cast<std::uint64_t>(s.codec->sample_rate) * s.outChannels * 2));
      }
      av_frame_unref(s.frame);
      if (got < 0) continue;
      endMs = std::max(endMs, timeMs);
      if (WriteResult w = Deliver(out.data(), static_cast<std::size_t>(got) * s.outChannels * 2, endMs); !w)
        return w;
      if (cancel_.load(std::memory_order_relaxed) == 1 || stop_) return WriteResult::Cancel();
    }
  };

  WriteResult r;
  bool reachedEnd = false;
  while (r.Ok()) {
    if (cancel_.load(std::memory_order_relaxed) == 1 || stop_) {
      r = WriteResult::Cancel();
      break;
    }
    const int got = av_read_frame(s.format, s.packet);
    if (got == AVERROR_EOF) {
      reachedEnd = true;
      break;
    }
    if (got < 0) {
      r = WriteResult::Failure(ReadFailureText(source_, AvError(got)));
      break;
    }
    if (s.packet->stream_index == s.stream) {
      // A damaged packet is skipped; the decoder goes on with the next one.
      avcodec_send_packet(s.codec, s.packet);
      r = drainFrames();
    }
    av_packet_unref(s.packet);
    // The end of the stated duration ends the file.
    if (r.Ok() && endMs >= durationMs_) {
      reachedEnd = true;
      break;
    }
  }
  if (r.Ok() && reachedEnd) {
    avcodec_send_packet(s.codec, nullptr);
    r = drainFrames();
    if (r.Ok()) {
      // What the resampler still holds.
      const int room = swr_get_out_samples(s.swr, 0);
      if (room > 0) {
        out.resize(static_cast<std::size_t>(room) * s.outChannels * 2 + 16);
        std::uint8_t* dst = out.data();
        const int got = swr_convert(s.swr, &dst, room, nullptr, 0);
        if (got > 0) r = Deliver(out.data(), static_cast<std::size_t>(got) * s.outChannels * 2, endMs);
      }
    }
    if (r.Ok() && endMs + kTruncationToleranceMs < durationMs_)
      r = WriteResult::Failure(ReadFailureText(source_, "файл обрезан или повреждён"));
  }
  if (r.Ok()) r = Finish();
  End(r);
}

WriteResult WmaFileReader::Finish() {
  std::lock_guard<std::mutex> hold(lock_);
  WriteResult r;
  if (toMp3_) {
    mp3Open_ = false;
    r = encoders_->Close();
  } else {
    std::uint8_t header[kWavHeaderSize];
    BuildWavHeader(header, static_cast<std::uint32_t>(delivered_.load()), format_);
    r = wav_.WriteAt(0, header, sizeof header);
    if (r) r = wav_.Finish();
    else wav_.Abort();
  }
  if (r && std::rename(part_.c_str(), output_.c_str()) != 0) {
    r = WriteResult::Failure(WriteFailureText(output_, errno));
  }
  if (!r) ::unlink(part_.c_str());
  return r;
}

void WmaFileReader::Discard() {
  std::lock_guard<std::mutex> hold(lock_);
  if (toMp3_) {
    if (mp3Open_) encoders_->Abort();
    mp3Open_ = false;
  } else {
    wav_.Abort();
  }
}

void WmaFileReader::End(WriteResult r) {
  if (!r.Ok()) Discard();
  {
    std::lock_guard<std::mutex> hold(lock_);
    result_ = std::move(r);
  }
  done_.store(true, std::memory_order_release);
}

WriteResult WmaFileReader::Result() const {
  std::lock_guard<std::mutex> hold(lock_);
  return result_;
}

void WmaFileReader::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  // A thread that never ran, or output started without one.
  Discard();
}

void WmaFileReader::Close() {
  Stop();
  src_.reset();
}

}  // namespace sonarvex
