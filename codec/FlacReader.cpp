#include "codec/FlacReader.h"

#include <FLAC/stream_decoder.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "codec/DynamicLibrary.h"
#include "platform/Files.h"

namespace sonarvex {

namespace {

constexpr const char* kNotOpenText = "Файл FLAC не открыт.";
// PCM handed on at most this much at a time by ReadAll.
constexpr std::size_t kReadAllBlock = 64 * 1024;

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// Why a file could not be opened or read, as a sentence.
std::string ReadProblem(const std::string& path, int err) {
  if (err == ENOENT) return "Нет файла " + Quoted(path) + ".";
  if (err == EINVAL) return Quoted(path) + " не является обычным файлом.";
  return "Не удалось прочитать файл " + Quoted(path) + ": " + std::strerror(err) + ".";
}

std::string ChannelsText(unsigned n) {
  const unsigned tens = n % 100;
  const char* word = (tens >= 11 && tens <= 14) ? "каналов"
                     : n % 10 == 1              ? "канал"
                     : (n % 10 >= 2 && n % 10 <= 4) ? "канала"
                                                    : "каналов";
  return std::to_string(n) + " " + word;
}

const char* ErrorStatusText(int status) {
  switch (status) {
    case FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC: return "потеряна синхронизация кадров";
    case FLAC__STREAM_DECODER_ERROR_STATUS_BAD_HEADER: return "неверный заголовок кадра";
    case FLAC__STREAM_DECODER_ERROR_STATUS_FRAME_CRC_MISMATCH:
      return "контрольная сумма кадра не совпадает";
    case FLAC__STREAM_DECODER_ERROR_STATUS_UNPARSEABLE_STREAM: return "поток не разбирается";
    case FLAC__STREAM_DECODER_ERROR_STATUS_BAD_METADATA: return "неверные метаданные";
    default: break;
  }
  return "ошибка декодирования";
}

}  // namespace

struct FlacReader::Library {
  DynamicLibrary flac;
  decltype(&::FLAC__stream_decoder_new) decoder_new = nullptr;
  decltype(&::FLAC__stream_decoder_delete) decoder_delete = nullptr;
  decltype(&::FLAC__stream_decoder_set_md5_checking) set_md5_checking = nullptr;
  decltype(&::FLAC__stream_decoder_init_stream) init_stream = nullptr;
  decltype(&::FLAC__stream_decoder_process_single) process_single = nullptr;
  decltype(&::FLAC__stream_decoder_process_until_end_of_metadata) process_metadata = nullptr;
  decltype(&::FLAC__stream_decoder_process_until_end_of_stream) process_stream = nullptr;
  decltype(&::FLAC__stream_decoder_finish) finish = nullptr;
  decltype(&::FLAC__stream_decoder_get_state) get_state = nullptr;
  decltype(&::FLAC__stream_decoder_get_resolved_state_string) state_string = nullptr;

  bool Load(const std::string& name) {
    if (!flac.Load(name)) return false;
    return flac.Find("FLAC__stream_decoder_new", decoder_new) &&
           flac.Find("FLAC__stream_decoder_delete", decoder_delete) &&
           flac.Find("FLAC__stream_decoder_set_md5_checking", set_md5_checking) &&
           flac.Find("FLAC__stream_decoder_init_stream", init_stream) &&
           flac.Find("FLAC__stream_decoder_process_single", process_single) &&
           flac.Find("FLAC__stream_decoder_process_until_end_of_metadata", process_metadata) &&
           flac.Find("FLAC__stream_decoder_process_until_end_of_stream", process_stream) &&
           flac.Find("FLAC__stream_decoder_finish", finish) &&
           flac.Find("FLAC__stream_decoder_get_state", get_state) &&
           flac.Find("FLAC__stream_decoder_get_resolved_state_string", state_string);
  }
};

// The decoder reads the file and hands its frames through these callbacks.
struct FlacReader::Stream {
  int fd = -1;
  FLAC__StreamDecoder* decoder = nullptr;
  int readErrno = 0;         // a failed read(2)
  int errorStatus = -1;      // the first error the decoder reported
  bool formatChanged = false;  // a frame in another format than the header's
  bool haveInfo = false;
  FLAC__uint64 infoSamples = 0;
  unsigned infoChannels = 0, infoRate = 0, infoBits = 0;
  bool counting = false;     // count the samples only
  std::uint64_t decoded = 0;  // samples per channel so far
  bool ended = false;        // the end of the stream was reached and checked
  std::vector<std::uint8_t> pcm;  // decoded, not yet read
  std::size_t pcmAt = 0;

  static FLAC__StreamDecoderReadStatus OnRead(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                              size_t* bytes, void* self) {
    auto& s = *static_cast<Stream*>(self);
    if (*bytes == 0) return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    ssize_t r;
    do {
      r = ::read(s.fd, buffer, *bytes);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
      s.readErrno = errno;
      *bytes = 0;
      return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    }
    *bytes = static_cast<size_t>(r);
    return r == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                  : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
  }

  static FLAC__StreamDecoderWriteStatus OnWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                const FLAC__int32* const buffer[], void* self) {
    auto& s = *static_cast<Stream*>(self);
    const FLAC__FrameHeader& h = frame->header;
    if (h.channels != 2 || h.bits_per_sample != 16 || h.sample_rate != 44100) {
      s.formatChanged = true;
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    const unsigned n = h.blocksize;
    s.decoded += n;
    if (s.counting) return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    // What was read is dropped before the buffer grows.
    if (s.pcmAt > 0) {
      s.pcm.erase(s.pcm.begin(), s.pcm.begin() + static_cast<std::ptrdiff_t>(s.pcmAt));
      s.pcmAt = 0;
    }
    const std::size_t at = s.pcm.size();
    s.pcm.resize(at + static_cast<std::size_t>(n) * 4u);
    std::uint8_t* p = s.pcm.data() + at;
    for (unsigned i = 0; i < n; ++i) {
      for (unsigned c = 0; c < 2; ++c) {
        const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(buffer[c][i]));
        *p++ = static_cast<std::uint8_t>(v & 0xFF);
        *p++ = static_cast<std::uint8_t>(v >> 8);
      }
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }

  static void OnMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* self) {
    auto& s = *static_cast<Stream*>(self);
    if (m->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    s.haveInfo = true;
    s.infoSamples = m->data.stream_info.total_samples;
    s.infoChannels = m->data.stream_info.channels;
    s.infoRate = m->data.stream_info.sample_rate;
    s.infoBits = m->data.stream_info.bits_per_sample;
  }

  static void OnError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* self) {
    auto& s = *static_cast<Stream*>(self);
    if (s.errorStatus < 0) s.errorStatus = static_cast<int>(status);
  }
};

FlacReader::FlacReader(const std::string& library)
    : lib_(std::make_unique<Library>()), stream_(std::make_unique<Stream>()) {
  loaded_ = lib_->Load(library);
}

FlacReader::~FlacReader() { Close(); }

void FlacReader::StopDecoder() {
  Stream& s = *stream_;
  if (s.decoder != nullptr) {
    lib_->decoder_delete(s.decoder);
    s.decoder = nullptr;
  }
}

void FlacReader::Close() {
  StopDecoder();
  Stream& s = *stream_;
  if (s.fd >= 0) ::close(s.fd);
  s = Stream{};
  open_ = false;
  error_ = {};
  totalSamples_ = 0;
  channels_ = sampleRate_ = bitsPerSample_ = 0;
}

WriteResult FlacReader::Fail(WriteResult r) {
  error_ = r;
  StopDecoder();
  return r;
}

// Why the decoder stopped: what the callbacks saw first, else its state.
WriteResult FlacReader::DecoderFailure() {
  const Stream& s = *stream_;
  if (s.readErrno != 0)
    return Fail(WriteResult::Failure(ReadProblem(path_, s.readErrno)));
  if (s.formatChanged)
    return Fail(WriteResult::Failure("Файл FLAC " + Quoted(path_) +
                                     " повреждён: кадр в другом формате, чем заголовок файла."));
  if (s.errorStatus >= 0)
    return Fail(WriteResult::Failure("Файл FLAC " + Quoted(path_) + " повреждён: " +
                                     ErrorStatusText(s.errorStatus) + "."));
  const char* state = s.decoder != nullptr ? lib_->state_string(s.decoder) : "";
  return Fail(WriteResult::Failure("Декодер FLAC не смог прочитать файл " + Quoted(path_) + ": " +
                                   state + "."));
}

WriteResult FlacReader::StartDecoder() {
  Stream& s = *stream_;
  const Library& L = *lib_;
  s.decoder = L.decoder_new();
  if (s.decoder == nullptr)
    return Fail(WriteResult::Failure(ReadProblem(path_, ENOMEM)));
  L.set_md5_checking(s.decoder, true);
  const FLAC__StreamDecoderInitStatus init =
      L.init_stream(s.decoder, &Stream::OnRead, nullptr, nullptr, nullptr, nullptr, &Stream::OnWrite,
                    &Stream::OnMetadata, &Stream::OnError, &s);
  if (init != FLAC__STREAM_DECODER_INIT_STATUS_OK)
    return Fail(WriteResult::Failure("Декодер FLAC не смог начать чтение файла " + Quoted(path_) + "."));
  if (!L.process_metadata(s.decoder) || s.errorStatus >= 0 || s.readErrno != 0) {
    if (!s.haveInfo && s.readErrno == 0)
      return Fail(WriteResult::Failure("Файл " + Quoted(path_) + " не является файлом FLAC."));
    return DecoderFailure();
  }
  if (!s.haveInfo)
    return Fail(WriteResult::Failure("Файл " + Quoted(path_) + " не является файлом FLAC."));
  return {};
}

WriteResult FlacReader::Open(const std::string& path) {
  Close();
  path_ = path;
  if (!loaded_)
    return Fail(WriteResult::Failure("Файл " + Quoted(path) + " не прочитан: нет библиотеки " +
                                     kFlacLibraryName + " (пакет libflac12)."));
  Stream& s = *stream_;
  // Only a regular file: a device or a FIFO is not even opened.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return Fail(WriteResult::Failure(ReadProblem(path, EINVAL)));
  s.fd = OpenRegularFile(path);
  if (s.fd < 0) return Fail(WriteResult::Failure(ReadProblem(path, errno)));
  // A FLAC stream starts with its marker, perhaps after an ID3v2 tag (which
  // the decoder skips). Anything else is not searched through.
  char head[4] = {};
  ssize_t r;
  do {
    r = ::pread(s.fd, head, sizeof head, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return Fail(WriteResult::Failure(ReadProblem(path, errno)));
  if (r < 4 || (std::memcmp(head, "fLaC", 4) != 0 && std::memcmp(head, "ID3", 3) != 0))
    return Fail(WriteResult::Failure("Файл " + Quoted(path) + " не является файлом FLAC."));

  if (WriteResult started = StartDecoder(); !started) return started;
  channels_ = s.infoChannels;
  sampleRate_ = s.infoRate;
  bitsPerSample_ = s.infoBits;
  if (channels_ != 2 || sampleRate_ != 44100 || bitsPerSample_ != 16)
    return Fail(WriteResult::Failure(
        "Файл " + Quoted(path) + " не в формате компакт-диска (" + ChannelsText(channels_) + ", " +
        std::to_string(sampleRate_) + " Гц, " + std::to_string(bitsPerSample_) +
        " бит): на CD бывает только стерео 44100 Гц 16 бит."));
  totalSamples_ = s.infoSamples;
  if (totalSamples_ == 0) {
    // The header does not say how long the stream is: it is decoded once to
    // count, then read again from the start.
    s.counting = true;
    if (!lib_->process_stream(s.decoder) || s.errorStatus >= 0 || s.readErrno != 0 || s.formatChanged)
      return DecoderFailure();
    if (!lib_->finish(s.decoder))
      return Fail(WriteResult::Failure("Файл FLAC " + Quoted(path) +
                                       " повреждён: подпись MD5 звука не совпадает с записанной в файле."));
    totalSamples_ = s.decoded;
    StopDecoder();
    if (::lseek(s.fd, 0, SEEK_SET) != 0)
      return Fail(WriteResult::Failure(ReadProblem(path, errno)));
    s.counting = false;
    s.decoded = 0;
    s.haveInfo = false;
    if (WriteResult started = StartDecoder(); !started) return started;
  }
  open_ = true;
  return {};
}

WriteResult FlacReader::Read(void* buffer, std::size_t bytes, std::size_t* got) {
  *got = 0;
  if (!open_) return WriteResult::Failure(kNotOpenText);
  if (!error_) return error_;
  Stream& s = *stream_;
  const Library& L = *lib_;
  while (s.pcm.size() - s.pcmAt < bytes && !s.ended) {
    const FLAC__StreamDecoderState before = L.get_state(s.decoder);
    if (before == FLAC__STREAM_DECODER_END_OF_STREAM) {
      // The whole stream is decoded: its length and its MD5 signature decide.
      s.ended = true;
      if (s.decoded != totalSamples_)
        return Fail(WriteResult::Failure("Файл FLAC " + Quoted(path_) +
                                         " повреждён или обрезан: декодировано сэмплов " +
                                         std::to_string(s.decoded) + " из " +
                                         std::to_string(totalSamples_) + "."));
      if (!L.finish(s.decoder))
        return Fail(WriteResult::Failure("Файл FLAC " + Quoted(path_) +
                                         " повреждён: подпись MD5 звука не совпадает с записанной в файле."));
      break;
    }
    if (!L.process_single(s.decoder) || s.errorStatus >= 0 || s.readErrno != 0 || s.formatChanged)
      return DecoderFailure();
    if (s.decoded > totalSamples_)
      return Fail(WriteResult::Failure("Файл FLAC " + Quoted(path_) +
                                       " повреждён: звука больше, чем указано в заголовке."));
  }
  const std::size_t n = std::min(bytes, s.pcm.size() - s.pcmAt);
  if (n > 0) std::memcpy(buffer, s.pcm.data() + s.pcmAt, n);
  s.pcmAt += n;
  if (s.pcmAt == s.pcm.size()) {
    s.pcm.clear();
    s.pcmAt = 0;
  }
  *got = n;
  return {};
}

WriteResult FlacReader::ReadAll(const std::function<WriteResult(const std::uint8_t*, std::size_t)>& sink) {
  std::vector<std::uint8_t> block(kReadAllBlock);
  for (;;) {
    std::size_t got = 0;
    if (WriteResult r = Read(block.data(), block.size(), &got); !r) return r;
    if (got == 0) return {};
    if (WriteResult r = sink(block.data(), got); !r) return r;
  }
}

}  // namespace sonarvex
