#include "codec/WmaWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "codec/Id3v2Writer.h"
#include "codec/WavSourceReader.h"
#include "platform/Cp1251.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include "codec/FfmpegFunctions.h"

namespace sonarvex {

namespace {

constexpr int kIoBufferSize = 64 * 1024;

const AVCodec* FindEncoder(const std::string& name) {
  const AVCodec* c = avcodec_find_encoder_by_name(name.c_str());
  if (c == nullptr || c->type != AVMEDIA_TYPE_AUDIO) return nullptr;
  return c;
}

}  // namespace

int WmaBitrateFor(int index) {
  if (index < 0) index = 0;
  if (index > 8) index = 8;
  return kWmaBitrates[index];
}

std::vector<std::pair<std::string, std::string>> WmaAttributesFor(const TrackTags& full) {
  if (!full.On()) return {};
  const TrackTags* tag = &full;
  std::vector<std::pair<std::string, std::string>> out = {
      {"title", tag->Get(TagField::Title)},   {"artist", tag->Get(TagField::Artist)},
      {"album", tag->Get(TagField::Album)},   {"comment", tag->Get(TagField::Comment)},
      {"date", tag->Get(TagField::Year)},     {"genre", tag->Get(TagField::Genre)},
      {"track", tag->Get(TagField::TrackNumber)},
      {"encoded_by", tag->Get(TagField::EncodedBy)}};
  // The info keys (a MusicBrainz lookup's), each only when it has a text.
  // FFmpeg's ASF muxer keeps one attribute of a name, so several values stay
  // in one, joined by "; ".
  auto add = [&](const char* name, const std::string& text) {
    if (!text.empty()) out.emplace_back(name, text);
  };
  add("WM/AlbumArtist", tag->Info("AlbumArtist"));
  add("WM/PartOfSet", DiscNumberText(*tag));
  add("WM/Publisher", tag->Info("Label"));
  add("WM/CatalogNo", tag->Info("CatalogNumber"));
  add("WM/Barcode", tag->Info("Barcode"));
  add("WM/Media", tag->Info("Media"));
  add("WM/ISRC", tag->Info("Isrc"));
  add("WM/OriginalReleaseTime", tag->Info("OriginalDate"));
  add("WM/OriginalReleaseYear", tag->Info("OriginalDate").substr(0, 4));
  add("MusicBrainz/Album Id", tag->Info("MusicBrainzAlbumId"));
  add("MusicBrainz/Album Artist Id", tag->Info("MusicBrainzAlbumArtistId"));
  add("MusicBrainz/Release Group Id", tag->Info("MusicBrainzReleaseGroupId"));
  add("MusicBrainz/Disc Id", tag->Info("MusicBrainzDiscId"));
  add("MusicBrainz/Album Release Country", tag->Info("ReleaseCountry"));
  add("MusicBrainz/Track Id", tag->Info("MusicBrainzTrackId"));
  add("MusicBrainz/Release Track Id", tag->Info("MusicBrainzReleaseTrackId"));
  add("MusicBrainz/Artist Id", tag->Info("MusicBrainzArtistId"));
  return out;
}

std::vector<std::pair<std::string, std::string>> WmaAttributesFor(const TrackTagRecord* tag) {
  if (tag == nullptr) return {};
  return WmaAttributesFor(TrackTags(*tag));
}

struct WmaWriter::Stream {
  std::string path;
  int fd = -1;
  int ioError = 0;  // the first failed system call's errno
  AVCodecContext* codec = nullptr;
  AVFormatContext* format = nullptr;
  AVIOContext* io = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  AVStream* st = nullptr;
  int channels = 0;
  int frameSize = 0;
  std::int64_t pts = 0;
  // Samples waiting for a whole encoder frame, one vector per channel.
  std::vector<float> pending[2];
  WriteResult error;

  static int WritePacket(void* opaque, std::uint8_t* buf, int size) {
    auto* s = static_cast<Stream*>(opaque);
    if (s->ioError != 0) return AVERROR(s->ioError);
    while (size > 0) {
      ssize_t w = ::write(s->fd, buf, static_cast<std::size_t>(size));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        s->ioError = w < 0 ? errno : ENOSPC;
        return AVERROR(s->ioError);
      }
      buf += w;
      size -= static_cast<int>(w);
    }
    return 0;
  }

  static std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
    auto* s = static_cast<Stream*>(opaque);
    if (s->ioError != 0) return AVERROR(s->ioError);
    if (whence == AVSEEK_SIZE) {
      struct stat st{};
      if (::fstat(s->fd, &st) != 0) return AVERROR(errno);
      return st.st_size;
    }
    off_t r = ::lseek(s->fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    if (r < 0) {
      s->ioError = errno;
      return AVERROR(s->ioError);
    }
    return r;
  }

  // Releases everything; the file is deleted unless keep.
  void Release(bool keep) {
    if (format != nullptr) {
      avformat_free_context(format);
      format = nullptr;
    }
    if (io != nullptr) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
    avcodec_free_context(&codec);
    av_frame_free(&frame);
    av_packet_free(&packet);
    if (fd >= 0) {
      ::close(fd);
      fd = -1;
      if (!keep) ::unlink(path.c_str());
    }
  }

  ~Stream() { Release(false); }
};

WmaWriter::WmaWriter(const std::string& encoderName) : encoderName_(encoderName) {}

std::uint32_t WmaWriter::Unavailable() const {
  // Asked on first need: FFmpeg is opened then, not when the writer is made.
  if (unavailable_ < 0)
    unavailable_ = ffmpeg::Available() && FindEncoder(encoderName_) != nullptr &&
                           av_guess_format("asf", nullptr, nullptr) != nullptr
                       ? 0
                       : 1;
  return static_cast<std::uint32_t>(unavailable_);
}

WmaWriter::~WmaWriter() { Abort(); }

WriteResult WmaWriter::Fail(WriteResult r) {
  if (stream_ != nullptr) {
    stream_->Release(false);
    stream_.reset();
  }
  source_ = CdAudioFormat;
  return r;
}

WriteResult WmaWriter::Open(const TrackTagRecord* tag, const std::string& fileName) {
  if (Unavailable() != 0) return WriteResult::Failure(kWmaUnavailableText);
  if (stream_ != nullptr) return WriteResult::Failure(CreateFailureText(fileName, EBUSY));
  const AudioFormatRecord src = source_;
  if (src.FormatTag != kFormatPcm || src.BitsPerSample != 16 || src.Channels < 1 ||
      src.Channels > 2 || src.SampleRate == 0)
    return WriteResult::Failure(kWmaCodecErrorText);

  auto s = std::make_unique<Stream>();
  s->path = fileName;
  s->channels = src.Channels;

  // The encoder first: a setting it refuses leaves no file behind.
  const AVCodec* encoder = FindEncoder(encoderName_);
  s->codec = encoder != nullptr ? avcodec_alloc_context3(encoder) : nullptr;
  s->frame = av_frame_alloc();
  s->packet = av_packet_alloc();
  if (s->codec == nullptr || s->frame == nullptr || s->packet == nullptr)
    return WriteResult::Failure(kWmaMemoryErrorText);
  s->codec->bit_rate = static_cast<std::int64_t>(WmaBitrateFor(bitrateIndex_)) * 1000;
  s->codec->sample_rate = static_cast<int>(src.SampleRate);
  s->codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
  s->codec->time_base = AVRational{1, s->codec->sample_rate};
  av_channel_layout_default(&s->codec->ch_layout, src.Channels);
  s->codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(s->codec, encoder, nullptr) < 0) return WriteResult::Failure(kWmaCodecErrorText);
  s->frameSize = s->codec->frame_size > 0 ? s->codec->frame_size : 2048;

  s->fd = CreateExclusiveFile(fileName);
  if (s->fd < 0) return WriteResult::Failure(CreateFailureText(fileName, errno));

  const AVOutputFormat* asf = av_guess_format("asf", nullptr, nullptr);
  if (avformat_alloc_output_context2(&s->format, asf, nullptr, nullptr) < 0 || s->format == nullptr)
    return Fail(WriteResult::Failure(kWmaMemoryErrorText));
  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
  s->io = buffer != nullptr ? avio_alloc_context(buffer, kIoBufferSize, 1, s.get(), nullptr,
                                                 &Stream::WritePacket, &Stream::Seek)
                            : nullptr;
  if (s->io == nullptr) {
    av_free(buffer);
    return WriteResult::Failure(kWmaMemoryErrorText);
  }
  s->io->seekable = AVIO_SEEKABLE_NORMAL;
  s->format->pb = s->io;
  s->format->flags |= AVFMT_FLAG_CUSTOM_IO;
  s->st = avformat_new_stream(s->format, nullptr);
  if (s->st == nullptr || avcodec_parameters_from_context(s->st->codecpar, s->codec) < 0)
    return WriteResult::Failure(kWmaMemoryErrorText);
  s->st->time_base = s->codec->time_base;
  const std::vector<std::pair<std::string, std::string>> attributes =
      tag ? WmaAttributesFor(FullTag(*tag)) : std::vector<std::pair<std::string, std::string>>();
  for (const auto& [key, value] : attributes)
    av_dict_set(&s->format->metadata, key.c_str(), value.c_str(), 0);

  const int r = avformat_write_header(s->format, nullptr);
  if (r < 0 || s->ioError != 0) {
    const int err = s->ioError != 0 ? s->ioError : EIO;
    return WriteResult::Failure(WriteFailureText(fileName, err));
  }
  stream_ = std::move(s);
  return {};
}

WriteResult WmaWriter::EncodeFrames(bool flush) {
  Stream& s = *stream_;
  auto drain = [&]() -> WriteResult {
    for (;;) {
      int r = avcodec_receive_packet(s.codec, s.packet);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return {};
      if (r < 0) return WriteResult::Failure(kWmaCodecErrorText);
      av_packet_rescale_ts(s.packet, s.codec->time_base, s.st->time_base);
      s.packet->stream_index = s.st->index;
      r = av_write_frame(s.format, s.packet);
      av_packet_unref(s.packet);
      if (r < 0 || s.ioError != 0)
        return WriteResult::Failure(WriteFailureText(s.path, s.ioError != 0 ? s.ioError : EIO));
    }
  };
  const std::size_t n = static_cast<std::size_t>(s.frameSize);
  std::size_t off = 0;  // samples of pending already encoded
  WriteResult result;
  while (s.pending[0].size() - off >= n || (flush && s.pending[0].size() > off)) {
    // The last frame is filled up with silence: the encoder takes whole frames.
    for (int c = 0; c < s.channels; ++c)
      if (s.pending[c].size() < off + n) s.pending[c].resize(off + n, 0.0f);
    av_frame_unref(s.frame);
    s.frame->nb_samples = s.frameSize;
    s.frame->format = s.codec->sample_fmt;
    s.frame->sample_rate = s.codec->sample_rate;
    if (av_channel_layout_copy(&s.frame->ch_layout, &s.codec->ch_layout) < 0 ||
        av_frame_get_buffer(s.frame, 0) < 0)
      return WriteResult::Failure(kWmaMemoryErrorText);
    for (int c = 0; c < s.channels; ++c)
      std::memcpy(s.frame->data[c], s.pending[c].data() + off, n * sizeof(float));
    off += n;
    s.frame->pts = s.pts;
    s.pts += s.frameSize;
    if (avcodec_send_frame(s.codec, s.frame) < 0) return WriteResult::Failure(kWmaCodecErrorText);
    if (result = drain(); !result) return result;
  }
  for (int c = 0; c < s.channels; ++c)
    s.pending[c].erase(s.pending[c].begin(), s.pending[c].begin() + static_cast<long>(off));
  if (flush) {
    if (avcodec_send_frame(s.codec, nullptr) < 0) return WriteResult::Failure(kWmaCodecErrorText);
    return drain();
  }
  return {};
}

WriteResult WmaWriter::Write(const void* pcm, std::size_t byteCount) {
  if (stream_ == nullptr) return WriteResult::Failure("Файл WMA не открыт.");
  if (!stream_->error) return stream_->error;
  if (pcm == nullptr) return WriteResult::Failure(kWmaCodecErrorText);
  Stream& s = *stream_;
  const auto* p = static_cast<const std::uint8_t*>(pcm);
  const std::size_t frames = byteCount / (2u * static_cast<unsigned>(s.channels));
  for (int c = 0; c < s.channels; ++c) s.pending[c].reserve(s.pending[c].size() + frames);
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < s.channels; ++c) {
      const std::uint8_t* q = p + (i * static_cast<std::size_t>(s.channels) + c) * 2;
      const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(q[0] | (q[1] << 8)));
      s.pending[c].push_back(static_cast<float>(v) / 32768.0f);
    }
  }
  WriteResult r = EncodeFrames(false);
  if (!r) {
    // Nothing half written stays; Close reports the failure again.
    s.Release(false);
    s.error = r;
  }
  return r;
}

WriteResult WmaWriter::Close() {
  if (stream_ == nullptr) {
    source_ = CdAudioFormat;
    return WriteResult::Failure("Файл WMA не открыт.");
  }
  Stream& s = *stream_;
  if (!s.error) return Fail(s.error);
  WriteResult r = EncodeFrames(true);
  if (!r) return Fail(r);
  // The trailer rewrites the header with the file's size and duration.
  if (av_write_trailer(s.format) < 0 || s.ioError != 0)
    return Fail(WriteResult::Failure(WriteFailureText(s.path, s.ioError != 0 ? s.ioError : EIO)));
  avio_flush(s.io);
  if (s.ioError != 0) return Fail(WriteResult::Failure(WriteFailureText(s.path, s.ioError)));
  if (::fsync(s.fd) != 0) return Fail(WriteResult::Failure(WriteFailureText(s.path, errno)));
  const int fd = s.fd;
  s.fd = -1;
  if (::close(fd) != 0 && errno != EINTR) {
    ::unlink(s.path.c_str());
    return Fail(WriteResult::Failure(WriteFailureText(s.path, errno)));
  }
  s.Release(true);
  stream_.reset();
  source_ = CdAudioFormat;
  return {};
}

void WmaWriter::Abort() {
  if (stream_ != nullptr) {
    stream_->Release(false);
    stream_.reset();
  }
  source_ = CdAudioFormat;
}

WriteResult WmaWriter::ConvertFile(const std::string& source, const std::string& output,
                                   const TrackTagRecord* tag) {
  if (Unavailable() != 0) return WriteResult::Failure(kWmaUnavailableText);
  WholeFileRules rules;
  rules.blockBytes = [] { return 32768u; };
  return ConvertWholeFile(source, output, tag, rules);
}

}  // namespace sonarvex
