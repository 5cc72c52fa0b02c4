// The library's entry point: maps the input, walks the frames in batches of
// ten, writes the WAV file and calls the caller back.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
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

class MappedFile {
 public:
  explicit MappedFile(const char* path) {
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return;
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return;
    void* p = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd_, 0);
    if (p == MAP_FAILED) return;
    data_ = static_cast<const uint8_t*>(p);
    size_ = size_t(st.st_size);
  }
  ~MappedFile() {
    if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
    if (fd_ >= 0) ::close(fd_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  int fd_ = -1;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

bool WriteAll(int fd, const void* data, size_t n, off_t at) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    const ssize_t w = ::pwrite(fd, p, n, at);
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
    at += w;
  }
  return true;
}

uint32_t Clamp32(size_t v) { return v > 0xffffffffu ? 0xffffffffu : uint32_t(v); }

void ShowError(MP3_DECODER_OPTIONS* o) {
  if (o->ownerWindow && o->ownerWindow->MessageBox)
    o->ownerWindow->MessageBox(o->ownerWindow, kDecodeFailed, kCaption, MP3_MB_ICONERROR);
  else
    std::fprintf(stderr, "%s: %s\n", kCaption, kDecodeFailed);
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
  const bool firstOk =
      kelpra::ParseHeader(base, inputLen, true, fh) == kelpra::HeaderResult::Ok;
  o->bitrate = firstOk ? fh.bitrate / 1000 : 0;
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
  if (firstOk) {
    decoder = std::make_unique<Mp3Decoder>(fh);
    pcmBytes = size_t(fh.pcmBytes);
  }
  std::vector<uint8_t> batch(pcmBytes * kBatchFrames + 16, 0);

  int out = -1;
  uint32_t dataCount = 0;
  if (o->writeWav) {
    out = o->outputFile ? ::open(o->outputFile, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
    if (out < 0) {
      if (o->status) *o->status = MP3_STATUS_CANNOT_CREATE;
      return;
    }
    uint8_t header[46];
    std::memcpy(header, "RIFF", 4);
    PutLe32(header + 4, 0);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    PutLe32(header + 16, 18);
    std::memcpy(header + 20, &o->waveFormat, 18);
    std::memcpy(header + 38, "data", 4);
    PutLe32(header + 42, 0);
    WriteAll(out, header, sizeof header, 0);
  }

  // The frame walk: batches of ten frames, stopping before the last stretch
  // shorter than ten frames of the last frame's length.
  size_t pos = 0;
  size_t lastLen = 0;
  for (;;) {
    if (pos >= inputLen || pos + kBatchFrames * lastLen > inputLen) break;
    int slots = 0;
    bool failed = false;
    for (int slot = 0; slot < kBatchFrames; ++slot) {
      if (pos >= inputLen) break;  // the data end inside this batch
      int16_t* pcm = reinterpret_cast<int16_t*>(batch.data() + size_t(slot) * pcmBytes);
      size_t len = lastLen;
      bool decoded = false;
      if (decoder) {
        FrameHeader h;
        if (pos == 0 && fh.hasVbrHeader) {
          len = size_t(fh.frameLength);  // the VBR header frame carries no audio
        } else {
          const Mp3Decoder::Result r = decoder->DecodeFrame(base + pos, inputLen - pos, pcm, h);
          decoded = r == Mp3Decoder::Result::Decoded;
          if (r != Mp3Decoder::Result::NoSync && r != Mp3Decoder::Result::Invalid)
            len = size_t(h.frameLength);
        }
      }
      if (!decoded && pcmBytes) std::memset(pcm, 0, pcmBytes);
      if (len == 0) {
        failed = true;
        break;
      }
      lastLen = len;
      pos += len;
      ++slots;
    }
    if (failed) {
      ShowError(o);
      if (o->status) *o->status = MP3_STATUS_CANNOT_DECODE;
      if (o->progressCallback)
        o->progressCallback(Clamp32(pos), Clamp32(inputLen), batch.data(), 0);
      break;
    }
    const size_t bytes = size_t(slots) * pcmBytes;
    if (out >= 0 && bytes > 0 && WriteAll(out, batch.data(), bytes, off_t(46) + dataCount))
      dataCount += uint32_t(bytes);
    if (o->progressCallback)
      o->progressCallback(Clamp32(pos), Clamp32(inputLen), batch.data(), uint32_t(bytes));
    if (o->eventCallback) {
      o->eventCallback(o, MP3_EVENT_BATCH, reinterpret_cast<intptr_t>(batch.data()),
                       intptr_t(bytes));
      o->eventCallback(o, MP3_EVENT_PROGRESS, intptr_t(Clamp32(pos)), intptr_t(Clamp32(inputLen)));
    }
    if (o->status && *o->status == MP3_STATUS_CANCEL) break;
  }

  if (out >= 0) {
    uint8_t v[4];
    PutLe32(v, dataCount);
    WriteAll(out, v, 4, 42);
    PutLe32(v, dataCount + 38);
    WriteAll(out, v, 4, 4);
    ::close(out);
  }
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
