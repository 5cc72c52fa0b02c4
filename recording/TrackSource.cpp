#include "recording/TrackSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "codec/AudioConversionStream.h"
#include "codec/AudioFormat.h"
#include "codec/FlacReader.h"
#include "codec/MediaFileDecoder.h"
#include "codec/WavSourceReader.h"
#include "conversion/Mp3DecoderLibrary.h"
#include "conversion/Mp3StreamInfo.h"

namespace sonarvex {

namespace {

constexpr std::uint64_t kCdRate = 44100;

std::string Failure(const std::string& path, const std::string& why) {
  return "Не удалось прочитать файл '" + path + "': " + why + ".";
}

std::string LowerAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return s;
}

// Reads up to n bytes from offset; how many came.
std::size_t ReadAt(int fd, std::uint8_t* out, std::size_t n, off_t offset) {
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, out + got, n - got, offset + static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<std::size_t>(r);
  }
  return got;
}

// The size of an ID3v2 tag at the start of a file (0 when there is none).
std::uint64_t Id3v2Size(const std::uint8_t* h, std::size_t n) {
  if (n < 10 || std::memcmp(h, "ID3", 3) != 0) return 0;
  const std::uint64_t body = (std::uint64_t{h[6] & 0x7Fu} << 21) | (std::uint64_t{h[7] & 0x7Fu} << 14) |
                             (std::uint64_t{h[8] & 0x7Fu} << 7) | (h[9] & 0x7Fu);
  return 10 + body + ((h[5] & 0x10) ? 10 : 0);
}

// An MPEG audio frame header (ISO/IEC 11172-3 and 13818-3): its length in
// bytes, samples and rate; false for bytes that are not one (or a free
// format frame, whose length the header does not give).
struct MpegFrame {
  std::uint32_t bytes = 0;
  int samples = 0;
  int rate = 0;
};
bool ParseMpegFrame(const std::uint8_t* p, MpegFrame* f) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const int v = (p[1] >> 3) & 3;  // 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
  const int l = (p[1] >> 1) & 3;  // 3 Layer I, 2 Layer II, 1 Layer III
  const int bi = p[2] >> 4, ri = (p[2] >> 2) & 3, pad = (p[2] >> 1) & 1;
  if (v == 1 || l == 0 || bi == 0 || bi == 15 || ri == 3) return false;
  static const int kBitrates[2][3][15] = {
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
  static const int kRates[3] = {44100, 48000, 32000};
  const bool mpeg1 = v == 3;
  const int layer = 4 - l;
  const int bitrate = kBitrates[mpeg1 ? 0 : 1][layer - 1][bi] * 1000;
  const int rate = kRates[ri] / (v == 3 ? 1 : v == 2 ? 2 : 4);
  f->rate = rate;
  if (layer == 1) {
    f->samples = 384;
    f->bytes = static_cast<std::uint32_t>((12 * bitrate / rate + pad) * 4);
  } else if (layer == 2 || mpeg1) {
    f->samples = 1152;
    f->bytes = static_cast<std::uint32_t>(144 * bitrate / rate + pad);
  } else {
    f->samples = 576;
    f->bytes = static_cast<std::uint32_t>(72 * bitrate / rate + pad);
  }
  return f->bytes >= 4;
}

// The first frame's rate and the samples (per channel) the frames of the
// file hold, counted frame by frame.
bool CountMpegSamples(const std::string& path, int* rate, std::uint64_t* samples) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  std::uint8_t h[10];
  std::uint64_t at = Id3v2Size(h, ReadAt(fd, h, sizeof h, 0));
  const auto size = static_cast<std::uint64_t>(st.st_size);
  *samples = 0;
  *rate = 0;
  // The first frame may follow some junk: its sync is looked for in the
  // first 64 KiB, with the frame after it as a check.
  std::vector<std::uint8_t> window(1 << 16);
  const std::size_t n = ReadAt(fd, window.data(), window.size(), static_cast<off_t>(at));
  bool found = false;
  for (std::size_t k = 0; k + 4 <= n && !found; ++k) {
    MpegFrame f, next;
    if (!ParseMpegFrame(window.data() + k, &f)) continue;
    std::uint8_t b[4];
    if (at + k + f.bytes + 4 <= size &&
        (ReadAt(fd, b, 4, static_cast<off_t>(at + k + f.bytes)) < 4 || !ParseMpegFrame(b, &next)))
      continue;
    at += k;
    found = true;
  }
  while (found && at + 4 <= size) {
    std::uint8_t b[4];
    MpegFrame f;
    if (ReadAt(fd, b, 4, static_cast<off_t>(at)) < 4 || !ParseMpegFrame(b, &f)) break;
    if (*rate == 0) *rate = f.rate;
    *samples += static_cast<std::uint64_t>(f.samples);
    at += f.bytes;
  }
  ::close(fd);
  return found && *rate > 0;
}

std::uint64_t CdBytesOf(std::uint64_t samples, int rate) {
  if (rate <= 0) return 0;
  return (samples * kCdRate + static_cast<std::uint64_t>(rate) / 2) / static_cast<std::uint64_t>(rate) * 4;
}

// ---- The kinds -------------------------------------------------------------

class WaveTrackSource : public TrackSource {
 public:
  bool Open(const std::string& path, std::string* why) {
    if (reader_.Open(path, false) != WavSourceReader::kUsable) {
      *why = "Невозможно открыть для чтения файл '" + path + "'!";
      return false;
    }
    struct stat st {};
    const std::uint64_t size = ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    const std::uint64_t held = size > reader_.DataStart() ? size - reader_.DataStart() : 0;
    bytes_ = std::min<std::uint64_t>(reader_.DataByteCount(), held) / 4 * 4;
    return true;
  }
  bool SeekTo(std::uint64_t byte) override { return reader_.SeekData(byte); }

 protected:
  bool Pull(std::uint8_t* buffer, std::uint32_t want, std::uint32_t* got) override {
    errno = 0;
    if (!reader_.Read(buffer, want, got)) {
      error_ = Failure(path_, errno ? std::strerror(errno) : "ошибка чтения");
      return false;
    }
    return true;
  }
  bool Restart() override { return reader_.SeekData(0); }

 private:
  WavSourceReader reader_;
};

class FlacTrackSource : public TrackSource {
 public:
  bool Open(const std::string& path, std::string* why) {
    if (WriteResult r = reader_.Open(path); !r) {
      *why = r.message;
      return false;
    }
    bytes_ = reader_.PcmBytes();
    return true;
  }
  // The file is FLAC but not CD format (another rate, channel count or
  // sample size): it was refused for that alone.
  bool OtherFormat() const {
    return reader_.SampleRate() != 0 &&
           (reader_.Channels() != 2 || reader_.SampleRate() != 44100 || reader_.BitsPerSample() != 16);
  }

 protected:
  bool Pull(std::uint8_t* buffer, std::uint32_t want, std::uint32_t* got) override {
    std::size_t n = 0;
    if (WriteResult r = reader_.Read(buffer, want, &n); !r) {
      error_ = r.message;
      return false;
    }
    *got = static_cast<std::uint32_t>(n);
    return true;
  }
  bool Restart() override {
    reader_.Close();
    if (WriteResult r = reader_.Open(path_); !r) {
      error_ = r.message;
      return false;
    }
    return true;
  }
  // The reader checks the length and the MD5 signature when it is asked
  // for more after the last sample: nothing more may come.
  bool CheckEnd() override {
    std::uint8_t rest[4096];
    std::size_t n = 0;
    do {
      if (WriteResult r = reader_.Read(rest, sizeof rest, &n); !r) {
        error_ = r.message;
        return false;
      }
    } while (n > 0);
    return true;
  }

 private:
  FlacReader reader_;
};

class MediaTrackSource : public TrackSource {
 public:
  bool Open(const std::string& path, std::string* why) {
    if (!decoder_.Open(path, why)) return false;
    bytes_ = decoder_.PcmBytes();
    return true;
  }

 protected:
  bool Pull(std::uint8_t* buffer, std::uint32_t want, std::uint32_t* got) override {
    std::size_t n = 0;
    if (!decoder_.Read(buffer, want, &n, &error_)) return false;
    *got = static_cast<std::uint32_t>(n);
    return true;
  }
  bool Restart() override { return decoder_.Open(path_, &error_); }

 private:
  MediaFileDecoder decoder_;
};

// libkelpra.so decodes a whole file in one call and hands its PCM to a
// callback: the call runs on a thread of its own, which waits while the
// writer has not taken what it gave (a few seconds of audio at most).
class Mp3TrackSource : public TrackSource {
 public:
  ~Mp3TrackSource() override { Stop(); }

  bool Open(const std::string& path, const std::string& decoderFolder, std::string* why) {
    std::string folder = decoderFolder;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    if (library_.Load(folder + kMp3DecoderLibraryName) != Mp3DecoderLibrary::LoadResult::Loaded) {
      *why = Failure(path, kMp3DecoderMissingText);
      return false;
    }
    Mp3StreamInfo info;
    if (const std::string problem = InspectMp3Source(path, &info); !problem.empty()) {
      *why = Failure(path, problem);
      return false;
    }
    int rate = 0;
    std::uint64_t samples = 0;
    if (!CountMpegSamples(path, &rate, &samples)) {
      *why = Failure(path, "в файле нет звука MP3");
      return false;
    }
    // A VBR header knows the frames (and what the decoder cuts) better than
    // counting, which also counts the header's own frame.
    if (info.hasFrameCount && info.samplesPerFrame > 0)
      samples = info.hasGaplessInfo ? info.MinimumSamples()
                                    : std::uint64_t{info.frames} * static_cast<std::uint64_t>(info.samplesPerFrame);
    bytes_ = CdBytesOf(samples, rate);
    if (bytes_ == 0) {
      *why = Failure(path, "в файле нет звука MP3");
      return false;
    }
    path_ = path;
    return true;  // the decoder starts with the first read
  }

 protected:
  bool Pull(std::uint8_t* buffer, std::uint32_t want, std::uint32_t* got) override {
    if (!thread_.joinable()) Start();
    std::unique_lock lock(m_);
    wake_.wait(lock, [&] { return !queue_.empty() || finished_; });
    const std::size_t n = std::min<std::size_t>(want, queue_.size());
    std::copy(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(n), buffer);
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(n));
    *got = static_cast<std::uint32_t>(n);
    wake_.notify_all();
    if (n == 0 && !failure_.empty()) {
      error_ = failure_;
      return false;
    }
    return true;
  }
  bool Restart() override {
    Stop();
    return true;
  }

 private:
  static constexpr std::size_t kQueueLimit = 4 * 176400;

  struct Call {
    MP3_DECODER_OPTIONS options;  // first: the library hands back its address
    Mp3TrackSource* self = nullptr;
  };

  bool Start() {
    {
      std::lock_guard lock(m_);
      queue_.clear();
      finished_ = false;
      stop_ = false;
      failure_.clear();
      status_ = 0;
      convert_.reset();
    }
    thread_ = std::thread([this] { Run(); });
    return true;
  }
  void Stop() {
    {
      std::lock_guard lock(m_);
      stop_ = true;
      status_ = MP3_STATUS_CANCEL;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  void Run() {
    Call call{};
    call.self = this;
    MP3_DECODER_OPTIONS& o = call.options;
    o.inputFile = path_.c_str();
    o.eventCallback = &Event;
    o.writeWav = 0;
    o.status = &status_;
    o.reserved3 = -1;
    library_.Convert()(&o);
    std::lock_guard lock(m_);
    if (status_ == MP3_STATUS_CANNOT_DECODE && failure_.empty())
      failure_ = Failure(path_, "не получилось декодировать файл");
    finished_ = true;
    wake_.notify_all();
  }

  static std::uint8_t Event(MP3_DECODER_OPTIONS* o, std::int32_t event, std::intptr_t a, std::intptr_t b) {
    auto* self = reinterpret_cast<Call*>(o)->self;
    if (event == MP3_EVENT_FIRST_FRAME) return self->First(*o) ? 1 : 0;
    if (event == MP3_EVENT_BATCH) self->Batch(reinterpret_cast<const std::uint8_t*>(a), static_cast<std::uint32_t>(b));
    return 1;
  }

  bool First(const MP3_DECODER_OPTIONS& o) {
    const auto& w = o.waveFormat;
    if (w.samplesPerSec == 44100 && w.channels == 2 && w.bitsPerSample == 16) return true;
    // Another rate or one channel: converted to CD format.
    const AudioFormatRecord src = MakePcmFormat(w.samplesPerSec, w.channels);
    convert_ = AudioConversionStream::Open(reinterpret_cast<const std::uint8_t*>(&src), 16, CdAudioFormat);
    if (!convert_) {
      std::lock_guard lock(m_);
      failure_ = Failure(path_, "формат звука не переводится в формат CD");
      return false;
    }
    return true;
  }

  void Batch(const std::uint8_t* pcm, std::uint32_t bytes) {
    const std::uint8_t* data = pcm;
    std::size_t size = bytes;
    converted_.clear();
    if (convert_) {
      std::uint32_t used = 0;
      convert_->Convert(pcm, bytes, false, converted_, &used);
      data = converted_.data();
      size = converted_.size();
    }
    std::unique_lock lock(m_);
    wake_.wait(lock, [&] { return queue_.size() < kQueueLimit || stop_; });
    if (stop_) return;
    queue_.insert(queue_.end(), data, data + size);
    wake_.notify_all();
  }

  Mp3DecoderLibrary library_;
  std::thread thread_;
  std::mutex m_;
  std::condition_variable wake_;
  std::deque<std::uint8_t> queue_;
  bool finished_ = false;
  bool stop_ = false;
  std::string failure_;
  std::uint8_t status_ = 0;
  std::unique_ptr<AudioConversionStream> convert_;
  std::vector<std::uint8_t> converted_;
};

}  // namespace

TrackSourceKind SniffTrackSource(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return TrackSourceKind::None;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return TrackSourceKind::None;
  }
  std::uint8_t h[16] = {};
  const std::size_t n = ReadAt(fd, h, sizeof h, 0);
  TrackSourceKind kind = TrackSourceKind::None;
  static const std::uint8_t kAsf[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                        0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  if (n >= 12 && std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WAVE", 4) == 0) {
    kind = TrackSourceKind::Wave;
  } else if (n >= 4 && std::memcmp(h, "fLaC", 4) == 0) {
    kind = TrackSourceKind::Flac;
  } else if (n >= 4 && std::memcmp(h, "OggS", 4) == 0) {
    kind = TrackSourceKind::Media;
  } else if (n >= 16 && std::memcmp(h, kAsf, 16) == 0) {
    kind = TrackSourceKind::Media;
  } else {
    // After an ID3v2 tag: FLAC or MPEG audio.
    const std::uint64_t skip = Id3v2Size(h, n);
    std::uint8_t b[4] = {};
    MpegFrame f;
    if (ReadAt(fd, b, 4, static_cast<off_t>(skip)) == 4) {
      if (std::memcmp(b, "fLaC", 4) == 0) kind = TrackSourceKind::Flac;
      else if (ParseMpegFrame(b, &f)) kind = TrackSourceKind::Mp3;
    }
  }
  ::close(fd);
  return kind;
}

bool IsCompilationAudioName(const std::string& path) {
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  const std::string ext = LowerAscii(path.substr(dot));
  return ext == ".wav" || ext == ".flac" || ext == ".mp3" || ext == ".ogg" || ext == ".oga" || ext == ".opus" ||
         ext == ".wma";
}

std::unique_ptr<TrackSource> TrackSource::Open(const std::string& path, const std::string& decoderFolder,
                                               std::string* why) {
  std::string reason;
  std::unique_ptr<TrackSource> source;
  bool ok = false;
  switch (SniffTrackSource(path)) {
    case TrackSourceKind::Wave: {
      auto s = std::make_unique<WaveTrackSource>();
      ok = s->Open(path, &reason);
      source = std::move(s);
      break;
    }
    case TrackSourceKind::Flac: {
      auto s = std::make_unique<FlacTrackSource>();
      ok = s->Open(path, &reason);
      if (!ok && s->OtherFormat()) {
        // Not CD format: FFmpeg decodes it and makes it CD format, as it
        // does an Ogg file (without the MD5 check of the FLAC reader).
        auto m = std::make_unique<MediaTrackSource>();
        std::string why;
        if (m->Open(path, &why)) {
          source = std::move(m);
          ok = true;
          reason.clear();
        }
        break;
      }
      source = std::move(s);
      break;
    }
    case TrackSourceKind::Mp3: {
      auto s = std::make_unique<Mp3TrackSource>();
      ok = s->Open(path, decoderFolder, &reason);
      source = std::move(s);
      break;
    }
    case TrackSourceKind::Media: {
      auto s = std::make_unique<MediaTrackSource>();
      ok = s->Open(path, &reason);
      source = std::move(s);
      break;
    }
    case TrackSourceKind::None: {
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0) reason = Failure(path, std::strerror(errno));
      else if (!S_ISREG(st.st_mode)) reason = Failure(path, "это не обычный файл");
      else reason = Failure(path, "это не звуковой файл, который можно записать (WAV, FLAC, MP3, Ogg, Opus, WMA)");
      break;
    }
  }
  if (!ok) {
    if (why) *why = reason;
    return nullptr;
  }
  source->kind_ = SniffTrackSource(path);
  source->path_ = path;
  if (source->bytes_ < 4) {
    if (why) *why = Failure(path, "в нём нет звука");
    return nullptr;
  }
  return source;
}

bool TrackSource::Read(std::uint8_t* buffer, std::uint32_t want, std::uint32_t* got) {
  *got = 0;
  const std::uint64_t left = bytes_ - std::min(position_, bytes_);
  want = static_cast<std::uint32_t>(std::min<std::uint64_t>(want, left));
  while (*got < want) {
    std::uint32_t n = 0;
    if (!decoderEnded_) {
      if (!Pull(buffer + *got, want - *got, &n)) return false;
      if (n == 0) decoderEnded_ = true;
    }
    if (decoderEnded_) {
      if (kind_ == TrackSourceKind::Wave) break;
      // A decoder that ends a little before the stated length: silence up
      // to it. One that ends a second or more before it had a file cut
      // short or damaged (or none it could decode): a failure, not silence.
      if (position_ + kCdRate * 4 < bytes_) {
        error_ = Failure(path_, "файл обрезан или повреждён: звука меньше, чем говорят его заголовки");
        return false;
      }
      n = want - *got;
      std::memset(buffer + *got, 0, n);
    }
    *got += n;
    position_ += n;
  }
  return true;
}

bool TrackSource::SeekTo(std::uint64_t byte) {
  if (!Restart()) return false;
  decoderEnded_ = false;
  position_ = 0;
  std::vector<std::uint8_t> skip(64 * 1024);
  while (position_ < byte) {
    std::uint32_t got = 0;
    if (!Read(skip.data(), static_cast<std::uint32_t>(std::min<std::uint64_t>(skip.size(), byte - position_)), &got))
      return false;
    if (got == 0) return false;
  }
  return true;
}

bool TrackSource::Finish() {
  std::vector<std::uint8_t> rest(64 * 1024);
  while (position_ < bytes_) {
    std::uint32_t got = 0;
    if (!Read(rest.data(), static_cast<std::uint32_t>(std::min<std::uint64_t>(rest.size(), bytes_ - position_)), &got))
      return false;
    if (got == 0) break;
  }
  return CheckEnd();
}

bool TrackSource::SeekData(std::uint64_t byte) {
  if (byte > bytes_) return false;
  if (!SeekTo(byte)) return false;
  position_ = byte;
  decoderEnded_ = false;
  return true;
}

}  // namespace sonarvex
