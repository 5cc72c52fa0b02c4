// The library's entry point: maps the input, walks the frames in batches of
// ten, writes the WAV file and calls the caller back.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "FrameHeader.h"
#include "Mp3Decoder.h"
#include "kelpra/Mp3DecoderOptions.h"

namespace {

using kelpra::FrameHeader;
using kelpra::Mp3Decoder;

constexpr int kBatchFrames = 10;
constexpr const char* kDecodeFailed = "Не получилось декодировать файл!!!";
constexpr const char* kCaption = "Sonarvex's MP3 Decoder";
// The Layer III decoder's own delay: the filterbanks' output lags the
// encoder's input by this many samples.
constexpr int kDecoderDelay = 529;
constexpr size_t kWavHeaderBytes = 46;

class MappedFile {
 public:
  explicit MappedFile(const char* path) {
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) return;
    if (::fstat(fd_, &st_) != 0 || !S_ISREG(st_.st_mode) || st_.st_size <= 0) return;
    void* p = ::mmap(nullptr, size_t(st_.st_size), PROT_READ, MAP_PRIVATE, fd_, 0);
    if (p == MAP_FAILED) return;
    data_ = static_cast<const uint8_t*>(p);
    size_ = size_t(st_.st_size);
  }
  ~MappedFile() {
    if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
    if (fd_ >= 0) ::close(fd_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  const struct stat& info() const { return st_; }

 private:
  int fd_ = -1;
  struct stat st_ {};
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

uint32_t Clamp32(size_t v) { return v > 0xffffffffu ? 0xffffffffu : uint32_t(v); }

void ShowMessage(MP3_DECODER_OPTIONS* o, const std::string& text) {
  if (o->ownerWindow && o->ownerWindow->MessageBox)
    o->ownerWindow->MessageBox(o->ownerWindow, text.c_str(), kCaption, MP3_MB_ICONERROR);
  else
    std::fprintf(stderr, "%s: %s\n", kCaption, text.c_str());
}

void SetStatus(MP3_DECODER_OPTIONS* o, uint8_t status) {
  if (o->status) *o->status = status;
}

// The WAV output. It is written to a new file beside the final name (created
// exclusively, never through a symbolic link) and renamed over the final name
// only when complete, so that a failed or refused output never leaves a
// partial file under that name and never touches what was there.
class WavOutput {
 public:
  ~WavOutput() { Discard(); }

  // Refuses an output that is the input itself (the same file under any
  // name) or a folder. Returns false with errno set.
  bool Create(const std::string& path, const struct stat& input,
              const MP3_WAVE_FORMAT& format) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
      if (st.st_dev == input.st_dev && st.st_ino == input.st_ino) {
        errno = EINVAL;
        return false;
      }
      if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
      }
    }
    // A caller that names a partial file (".part") renames it itself when
    // the call is over: the file is written under that very name, locked
    // (flock) while it is written so that another run never takes it for a
    // leftover, and carries the caller's mark of its partial files.
    static const std::string kPartSuffix = ".part";
    if (path.size() > kPartSuffix.size() &&
        path.compare(path.size() - kPartSuffix.size(), kPartSuffix.size(), kPartSuffix) == 0) {
      fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd_ < 0) return false;
      const int saved = errno;
      ::flock(fd_, LOCK_EX | LOCK_NB);
      ::fsetxattr(fd_, "user.sonarvex", "partial", 7, 0);
      errno = saved;
      temp_ = path_ = path;
    }
    std::random_device rd;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      char suffix[24];
      std::snprintf(suffix, sizeof suffix, ".%08x.part", unsigned(rd()));
      temp_ = path + suffix;
      fd_ = ::open(temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd_ < 0 && errno != EEXIST) return false;
    }
    if (fd_ < 0) return false;
    path_ = path;
    uint8_t header[kWavHeaderBytes];
    std::memcpy(header, "RIFF", 4);
    PutLe32(header + 4, 0);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    PutLe32(header + 16, 18);
    std::memcpy(header + 20, &format, 18);
    std::memcpy(header + 38, "data", 4);
    PutLe32(header + 42, 0);
    return WriteAt(header, sizeof header, 0, "write");
  }

  bool Append(const uint8_t* data, size_t n) {
    // A WAV file's sizes are 32-bit: its data cannot grow past them.
    if (dataBytes_ + n > 0xffffffffu - kWavHeaderBytes) {
      errno = EFBIG;
      what_ = "write";
      return false;
    }
    if (!WriteAt(data, n, off_t(kWavHeaderBytes + dataBytes_), "write")) return false;
    dataBytes_ += n;
    return true;
  }

  // Writes the sizes into the header, flushes the file to the disk, closes it
  // and gives it its final name.
  bool Finish() {
    uint8_t v[4];
    PutLe32(v, uint32_t(dataBytes_));
    if (!WriteAt(v, 4, 42, "write the header of")) return false;
    PutLe32(v, uint32_t(dataBytes_ + kWavHeaderBytes - 8));
    if (!WriteAt(v, 4, 4, "write the header of")) return false;
    if (::fsync(fd_) != 0) return Fail("flush");
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return Fail("close");
    if (temp_ != path_ && ::rename(temp_.c_str(), path_.c_str()) != 0) return Fail("rename");
    temp_.clear();
    return true;
  }

  // Closes and deletes the unfinished file.
  void Discard() {
    const int saved = errno;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    errno = saved;
  }

  // What failed, for the message.
  const char* what() const { return what_; }

 private:
  bool WriteAt(const void* data, size_t n, off_t at, const char* what) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
      const ssize_t w = ::pwrite(fd_, p, n, at);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        if (w == 0) errno = ENOSPC;
        return Fail(what);
      }
      p += w;
      n -= size_t(w);
      at += w;
    }
    return true;
  }
  bool Fail(const char* what) {
    what_ = what;
    return false;
  }

  int fd_ = -1;
  std::string path_, temp_;
  size_t dataBytes_ = 0;
  const char* what_ = "write";
};

// Cuts the encoder's delay and padding off the decoded PCM: drops the first
// `skip` sample frames and holds back the last `trim` ones until more follow,
// so that the stream's final `trim` frames are never given out.
class GaplessTrim {
 public:
  GaplessTrim(size_t blockAlign, size_t skip, size_t trim)
      : skip_(skip * blockAlign), trim_(trim * blockAlign) {}

  // Bytes to keep in front of each batch for the held-back tail.
  size_t Reserve() const { return trim_; }

  // `decoded` (n bytes) has just been decoded, with Reserve() bytes of room
  // in front of it. Returns the bytes to give out, which start at `out`.
  // Hold() must follow once they have been used.
  size_t Take(uint8_t* decoded, size_t n, uint8_t*& out) {
    const size_t drop = std::min(skip_, n);
    skip_ -= drop;
    // Samples are held back only once the skip is over, so that the held
    // tail and the rest of this batch lie next to each other.
    uint8_t* start = held_ ? decoded - held_ : decoded + drop;
    const size_t total = held_ + n - drop;
    keep_ = std::min(total, trim_);
    tail_ = start + (total - keep_);
    out = start;
    return total - keep_;
  }

  // Moves the held-back tail to just before where the next batch is decoded.
  void Hold(uint8_t* decoded) {
    if (keep_) std::memmove(decoded - keep_, tail_, keep_);
    held_ = keep_;
  }

 private:
  size_t skip_;
  size_t trim_;
  size_t held_ = 0;
  size_t keep_ = 0;
  uint8_t* tail_ = nullptr;
};

// The next header of the stream at or after `from`: one with the first
// frame's version, layer and sample rate that is followed by another such
// header (or by the end of the data). `end` when there is none.
size_t Resync(const uint8_t* base, size_t from, size_t end, const FrameHeader& first) {
  auto matches = [&](size_t at, FrameHeader& h) {
    return at < end &&
           kelpra::ParseHeader(base + at, end - at, false, h, first.freeFormatBytes) ==
               kelpra::HeaderResult::Ok &&
           h.version == first.version && h.layer == first.layer &&
           h.sampleRateIndex == first.sampleRateIndex;
  };
  for (size_t at = from; at + 4 <= end; ++at) {
    if (base[at] != 0xFF) continue;
    FrameHeader a, b;
    if (!matches(at, a)) continue;
    const size_t next = at + size_t(a.frameLength);
    if (next >= end || matches(next, b)) return at;
  }
  return end;
}

void Convert(MP3_DECODER_OPTIONS* o) {
  if (!o->inputFile) return;
  MappedFile in(o->inputFile);
  if (!in.data()) return;
  const uint8_t* data = in.data();
  const size_t size = in.size();

  // The first frame and the length of the input behind it.
  const size_t first = kelpra::FindFirstFrame(data, size);
  size_t inputLen = size - first;
  if (size >= 128 && std::memcmp(data + size - 128, "TAG", 3) == 0)
    inputLen = inputLen > 128 ? inputLen - 128 : 0;
  const uint8_t* base = data + first;
  o->fileData = data;
  o->firstFrameOffset = int32_t(first > 0x7fffffff ? 0x7fffffff : first);

  FrameHeader fh;
  bool firstOk = kelpra::ParseHeader(base, inputLen, true, fh) == kelpra::HeaderResult::Ok;
  if (!firstOk) {
    // Free format: the frame length is the distance to the next header.
    const int freeBytes = kelpra::FindFreeFormatLength(base, inputLen);
    firstOk = freeBytes > 0 && kelpra::ParseHeader(base, inputLen, true, fh, freeBytes) ==
                                   kelpra::HeaderResult::Ok;
  }
  o->bitrate = firstOk ? (fh.bitrate + 500) / 1000 : 0;  // free format: the nearest kbit/s
  o->sampleRate = firstOk ? fh.sampleRate : 0;
  o->waveFormat.formatTag = 1;
  o->waveFormat.channels = uint16_t(firstOk ? fh.channels : 0);
  o->waveFormat.samplesPerSec = uint32_t(o->sampleRate);
  o->waveFormat.avgBytesPerSec = uint32_t(o->sampleRate) * o->waveFormat.channels * 2u;
  o->waveFormat.blockAlign = uint16_t(o->waveFormat.channels * 2);
  o->waveFormat.bitsPerSample = 16;
  o->waveFormat.extraSize = 0;

  if (o->eventCallback && !o->eventCallback(o, MP3_EVENT_FIRST_FRAME, 0, 0)) return;

  std::unique_ptr<Mp3Decoder> decoder;
  size_t pcmBytes = 0;
  size_t skip = 0, trim = 0;
  if (firstOk) {
    decoder = std::make_unique<Mp3Decoder>(fh);
    pcmBytes = size_t(fh.pcmBytes);
    // Gapless output: the encoder's delay and the decoder's own delay are
    // cut from the start, the encoder's padding (less the decoder's delay,
    // which it covers) from the end.
    if (fh.hasGaplessInfo && fh.layer == 3) {
      skip = size_t(fh.encoderDelay) + kDecoderDelay;
      trim = fh.encoderPadding > kDecoderDelay ? size_t(fh.encoderPadding - kDecoderDelay) : 0;
    }
  }
  GaplessTrim gapless(size_t(o->waveFormat.blockAlign), skip, trim);
  const size_t reserve = gapless.Reserve();
  std::vector<uint8_t> buffer(reserve + pcmBytes * kBatchFrames + 16, 0);
  uint8_t* const batch = buffer.data() + reserve;

  std::unique_ptr<WavOutput> out;
  if (o->writeWav) {
    out = std::make_unique<WavOutput>();
    if (!o->outputFile || !out->Create(o->outputFile, in.info(), o->waveFormat)) {
      out.reset();
      SetStatus(o, MP3_STATUS_CANNOT_CREATE);
      return;
    }
  }
  auto writeFailed = [&] {
    const int err = errno;
    out->Discard();
    ShowMessage(o, std::string("Не получилось записать файл ") + o->outputFile + " (" +
                       out->what() + "): " + std::strerror(err));
    SetStatus(o, MP3_STATUS_WRITE_FAILED);
  };

  // The frame walk: batches of ten frames to the end of the data; the last
  // batch holds what is left.
  size_t pos = 0;
  size_t lastLen = 0;
  bool more = firstOk;
  if (firstOk && fh.hasVbrHeader) pos = size_t(fh.frameLength);  // no audio in it
  if (!firstOk) {
    ShowMessage(o, kDecodeFailed);
    SetStatus(o, MP3_STATUS_CANNOT_DECODE);
    if (o->progressCallback) o->progressCallback(0, Clamp32(inputLen), batch, 0);
  }
  while (more) {
    int slots = 0;
    while (slots < kBatchFrames) {
      if (pos >= inputLen) {
        more = false;
        break;
      }
      int16_t* pcm = reinterpret_cast<int16_t*>(batch + size_t(slots) * pcmBytes);
      FrameHeader h;
      const Mp3Decoder::Result r = decoder->DecodeFrame(base + pos, inputLen - pos, pcm, h);
      if (r == Mp3Decoder::Result::Decoded || r == Mp3Decoder::Result::NoData ||
          r == Mp3Decoder::Result::Incompatible) {
        // A frame that cannot be decoded keeps its place as silence.
        if (r != Mp3Decoder::Result::Decoded) std::memset(pcm, 0, pcmBytes);
        lastLen = size_t(h.frameLength);
        pos += std::min(lastLen, inputLen - pos);
        ++slots;
      } else if (r == Mp3Decoder::Result::Damaged) {
        // A frame whose side information is damaged yields nothing.
        lastLen = size_t(h.frameLength);
        pos += std::min(lastLen, inputLen - pos);
      } else if (r == Mp3Decoder::Result::Short) {
        pos = inputLen;  // a stub of a frame at the end: dropped
      } else {
        // No frame here. Where the next header lies where the last frame's
        // length (give or take the padding slot) leads, this is a damaged
        // frame: it keeps its place as silence. Otherwise the walk goes on
        // at the next header, or ends at trailing bytes that hold none (a
        // tag).
        const size_t next = Resync(base, pos + 1, inputLen, fh);
        const size_t slot = fh.layer == 1 ? 4 : 1;
        const size_t expected = pos + lastLen;
        if (lastLen > 0 && next < inputLen && next + slot >= expected && next <= expected + slot) {
          std::memset(pcm, 0, pcmBytes);
          ++slots;
        }
        pos = next;
      }
    }
    if (slots == 0) break;  // nothing after the last full batch
    uint8_t* pcmOut = batch;
    const size_t bytes = gapless.Take(batch, size_t(slots) * pcmBytes, pcmOut);
    if (out && bytes > 0 && !out->Append(pcmOut, bytes)) {
      writeFailed();
      return;
    }
    if (o->progressCallback)
      o->progressCallback(Clamp32(pos), Clamp32(inputLen), pcmOut, uint32_t(bytes));
    if (o->eventCallback) {
      o->eventCallback(o, MP3_EVENT_BATCH, reinterpret_cast<intptr_t>(pcmOut), intptr_t(bytes));
      o->eventCallback(o, MP3_EVENT_PROGRESS, intptr_t(Clamp32(pos)), intptr_t(Clamp32(inputLen)));
    }
    gapless.Hold(batch);
    if (o->status && *o->status == MP3_STATUS_CANCEL) break;
  }

  if (out && !out->Finish()) writeFailed();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void ConvertMP3ToWAV(MP3_DECODER_OPTIONS* o) {
  if (!o) return;
  try {
    Convert(o);
  } catch (...) {
    // Out of memory: nothing may cross the C boundary.
  }
}
