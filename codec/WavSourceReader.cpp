#include "codec/WavSourceReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "codec/AudioConversionStream.h"
#include "codec/SampleOps.h"
#include "codec/WavFile.h"

namespace sonarvex {
namespace {

std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool SameFile(int fd, const std::string& other) {
  struct stat a {}, b {};
  if (fstat(fd, &a) != 0 || stat(other.c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

constexpr std::uint32_t kSourceBlock = 256000;

}  // namespace

WavSourceReader::WavSourceReader() : format_(reinterpret_cast<const AudioFormatRecord*>(area_)) {
  std::memset(area_, 0, sizeof area_);
}

WavSourceReader::~WavSourceReader() { Close(); }

void WavSourceReader::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  dataBytes_ = 0;
  convertedSize_ = 0;
  sourceName_.clear();
}

bool WavSourceReader::ReadExact(void* buf, std::size_t n) {
  auto* p = static_cast<std::uint8_t*>(buf);
  while (n > 0) {
    ssize_t r = read(fd_, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

int WavSourceReader::Open(const std::string& name, bool anyPcm) {
  problem_.clear();
  problemIsWrite_ = false;
  if (name.empty()) {
    problem_ = "Не задано имя исходного файла.";
    return kCannotOpen;
  }
  if (fd_ >= 0) return kAlreadyOpen;
  sourceName_ = name;
  // Non-blocking, so that a FIFO or a device never holds the open up; only
  // a regular file is read.
  fd_ = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    SetProblem(std::strerror(errno));
    return kCannotOpen;
  }
  struct stat st {};
  if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    SetProblem(S_ISDIR(st.st_mode) ? "это папка" : "это не обычный файл");
    Close();
    return kCannotOpen;
  }
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);

  std::uint8_t head[12];
  if (!ReadExact(head, 12) || std::memcmp(head, "RIFF", 4) != 0 ||
      std::memcmp(head + 8, "WAVE", 4) != 0) {
    SetProblem("это не файл WAV");
    Close();
    return kNotWave;
  }

  // The chunks up to "data": "fmt " is kept, every other chunk (LIST,
  // fact, cue, JUNK...) is skipped, each padded to an even size.
  std::memset(area_, 0, sizeof area_);
  bool haveFormat = false;
  std::uint8_t chunk[8];
  for (;;) {
    if (!ReadExact(chunk, 8)) {
      SetProblem(haveFormat ? "в файле нет блока звуковых данных" : "в файле нет описания формата");
      Close();
      return kNeedsConversion;
    }
    const std::uint32_t size = Get32(chunk + 4);
    if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) {
        SetProblem("в файле нет описания формата");
        Close();
        return kNeedsConversion;
      }
      dataBytes_ = size;
      break;
    }
    const std::uint64_t padded = static_cast<std::uint64_t>(size) + (size & 1u);
    if (std::memcmp(chunk, "fmt ", 4) == 0 && !haveFormat) {
      fmtSize_ = size;
      const std::uint32_t kept = std::min<std::uint32_t>(fmtSize_, kFormatAreaSize);
      // A short fmt chunk keeps what could be read; the area is zero beyond it.
      if (!ReadExact(area_, kept)) {
        SetProblem("описание формата обрезано");
        Close();
        return kNeedsConversion;
      }
      haveFormat = true;
      if (padded > kept && lseek(fd_, static_cast<off_t>(padded - kept), SEEK_CUR) < 0) {
        SetProblem(std::strerror(errno));
        Close();
        return kNeedsConversion;
      }
      continue;
    }
    const off_t at = lseek(fd_, 0, SEEK_CUR);
    // A chunk that claims more than the file holds ends the walk.
    if (at < 0 || static_cast<std::uint64_t>(at) + padded > static_cast<std::uint64_t>(st.st_size) ||
        lseek(fd_, static_cast<off_t>(padded), SEEK_CUR) < 0) {
      SetProblem(haveFormat ? "в файле нет блока звуковых данных" : "в файле нет описания формата");
      Close();
      return kNeedsConversion;
    }
  }
  off_t pos = lseek(fd_, 0, SEEK_CUR);
  fileSize_ = static_cast<std::uint64_t>(st.st_size);
  dataStart_ = static_cast<std::uint32_t>(std::min<off_t>(pos, 0xFFFFFFFF));
  format_ = reinterpret_cast<const AudioFormatRecord*>(area_);

  const AudioFormatRecord& f = *format_;
  if (f.FormatTag == kFormatPcm && f.Channels == 2 && f.SampleRate == 44100 &&
      f.BitsPerSample == 16)
    return kUsable;
  // Any PCM, as long as the header describes something that can be played.
  if (anyPcm && f.FormatTag == kFormatPcm && f.Channels >= 1 && f.Channels <= 8 &&
      f.SampleRate > 0 && f.BitsPerSample >= 8 && f.BitsPerSample <= 32 &&
      f.BitsPerSample % 8 == 0)
    return kUsable;
  SetProblem("формат звука не поддерживается");
  return kNeedsConversion;
}

void WavSourceReader::SetProblem(const std::string& reason) {
  problem_ = "Не удалось прочитать файл '" + sourceName_ + "': " + reason + ".";
  problemIsWrite_ = false;
}

std::uint64_t WavSourceReader::AudioBytes() const {
  if (fd_ < 0 || fileSize_ <= dataStart_) return 0;
  return std::min<std::uint64_t>(dataBytes_, fileSize_ - dataStart_);
}

bool WavSourceReader::Read(void* buffer, std::uint32_t byteCount, std::uint32_t* bytesRead) {
  *bytesRead = 0;
  if (fd_ < 0) return false;
  auto* p = static_cast<std::uint8_t*>(buffer);
  while (*bytesRead < byteCount) {
    ssize_t r = read(fd_, p + *bytesRead, byteCount - *bytesRead);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) break;
    *bytesRead += static_cast<std::uint32_t>(r);
  }
  return true;
}

bool WavSourceReader::SeekData(std::uint64_t offset) {
  if (fd_ < 0) return false;
  return ::lseek(fd_, static_cast<off_t>(dataStart_ + offset), SEEK_SET) >= 0;
}

bool WavSourceReader::ConvertToCd(const ProgressCallback* progress, bool allowSuggestion) {
  if (fd_ < 0) return false;
  if (convertedName_.empty()) {
    problem_ = "Не задано имя файла для преобразованного звука.";
    return false;
  }
  // Writing the result over the file being read would destroy the source.
  if (SameFile(fd_, convertedName_)) {
    problem_ = CreateFailureText(convertedName_, EEXIST);
    problemIsWrite_ = true;
    return false;
  }
  if (AudioBytes() == 0) {
    SetProblem("в файле нет звука");
    return false;
  }
  const std::size_t fmtBytes = std::min<std::size_t>(fmtSize_, kFormatAreaSize);
  auto stream = AudioConversionStream::Open(area_, fmtBytes, CdAudioFormat);
  if (!stream && allowSuggestion &&
      AudioConversionStream::SuggestPcmFormat(area_, fmtBytes, &suggested_))
    stream = AudioConversionStream::Open(area_, fmtBytes, suggested_);
  if (!stream) {
    SetProblem("формат звука не поддерживается");
    return false;
  }
  const AudioFormatRecord dst = stream->Destination();
  const std::uint32_t srcBlock = std::min(kSourceBlock, dataBytes_);
  convertedSize_ = stream->DestinationSize(dataBytes_);

  int out = CreateWavFile(convertedName_, dst);
  if (out == kInvalidWavHandle) {
    problem_ = CreateFailureText(convertedName_, errno);
    problemIsWrite_ = true;
    return false;
  }
  int writeErrno = 0;

  std::vector<std::uint8_t> src(std::max<std::uint32_t>(srcBlock, 1));
  std::vector<std::uint8_t> pcm;
  std::uint32_t consumed = 0;
  std::uint64_t produced = 0;
  bool drained = false;
  bool failed = false;
  bool writeFailed = false;
  while (consumed < dataBytes_) {
    if (progress && *progress) (*progress)(consumed, dataBytes_, nullptr, -1);
    else if (pump_) pump_();
    std::uint32_t block = srcBlock;
    bool end = false;
    if (dataBytes_ - consumed <= srcBlock) {
      block = dataBytes_ - consumed;
      end = true;
    }
    std::uint32_t got = 0;
    if (!Read(src.data(), block, &got)) {
      failed = true;
      break;
    }
    if (got < block) end = true;  // the file ends before the data chunk says
    std::uint32_t used = 0;
    pcm.clear();
    if (!stream->Convert(src.data(), got, end, pcm, &used)) {
      failed = true;
      break;
    }
    if (!pcm.empty() && !WriteWavData(out, pcm.data(), pcm.size())) {
      writeErrno = errno;
      failed = writeFailed = true;
      break;
    }
    drained = drained || end;
    produced += pcm.size();
    consumed += used;
    if (used < got) lseek(fd_, -static_cast<off_t>(got - used), SEEK_CUR);
    if (end || used == 0) break;
  }
  if (!failed && !drained) {
    std::uint32_t used = 0;
    pcm.clear();
    if (stream->Convert(nullptr, 0, true, pcm, &used) && !pcm.empty()) {
      if (WriteWavData(out, pcm.data(), pcm.size())) {
        produced += pcm.size();
      } else {
        writeErrno = errno;
        writeFailed = true;
      }
    }
  }
  stream.reset();
  // The header gets the true size of what was written.
  if (!FinishWavFile(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(produced, 0xFFFFFFD7u)),
                     dst) &&
      !writeFailed) {
    writeErrno = errno;
    writeFailed = true;
  }
  if (writeFailed) {
    problem_ = WriteFailureText(convertedName_, writeErrno != 0 ? writeErrno : EIO);
    problemIsWrite_ = true;
  } else if (failed) {
    SetProblem("звук не декодируется");
  } else if (produced == 0) {
    // Data that decode to nothing (a header that names another format
    // than the data hold) are no audio either.
    SetProblem("в файле нет звука, который можно декодировать");
    failed = true;
  }
  Close();
  if (writeFailed || failed) {
    // A converted file that could not be read, converted or written whole
    // is no source: it would stand for the whole file cut short.
    unlink(convertedName_.c_str());
    return false;
  }
  return Open(convertedName_, allowSuggestion) == kUsable;
}

WriteResult FeedSamples(WavSourceReader& reader, std::uint32_t blockBytes, bool stopAtDataSize,
                        const ProgressCallback& progress, double gain,
                        const std::function<WriteResult(const std::uint8_t*, std::uint32_t)>& write) {
  std::vector<std::uint8_t> block(std::max<std::uint32_t>(blockBytes, 2));
  const std::uint32_t total = reader.DataByteCount();
  std::uint32_t done = 0;
  while (!stopAtDataSize || done < total) {
    bool cancel = false;
    if (progress) progress(done, total, &cancel, 0);
    if (cancel) return WriteResult::Cancel();
    const std::uint32_t want =
        stopAtDataSize ? std::min<std::uint32_t>(blockBytes, total - done) : blockBytes;
    std::uint32_t got = 0;
    if (!reader.Read(block.data(), want, &got)) {
      return WriteResult::Failure("Не удалось прочитать файл '" + reader.SourceName() + "': " +
                                  std::strerror(errno) + ".");
    }
    // A data chunk that claims more than the file holds ends at the end of the file.
    if (got == 0) break;
    ApplyGain(block.data(), got, gain);
    if (WriteResult r = write(block.data(), got); !r) return r;
    done += got;
  }
  return {};
}

}  // namespace sonarvex
