#include "codec/OpusWriter.h"

#include <cerrno>
#include <cstring>

#include "codec/DynamicLibrary.h"
#include "codec/Id3v2Writer.h"
#include "codec/WavSourceReader.h"

namespace sonarvex {

namespace {

constexpr const char* kNotOpenText = "Файл Opus не открыт.";

// The few libopusenc functions and types the writer uses, declared here so
// that its headers stay out of the build.
struct OggOpusComments;
struct OggOpusEnc;
using OpeWrite = int (*)(void* user, const unsigned char* data, std::int32_t length);
using OpeClose = int (*)(void* user);
struct OpeCallbacks {
  OpeWrite write;
  OpeClose close;
};
constexpr int kOpeOk = 0;
// The Opus encoder's request for the bitrate in bit/s.
constexpr int kOpusSetBitrateRequest = 4002;

}  // namespace

struct OpusWriter::Library {
  DynamicLibrary opusenc;
  OggOpusComments* (*comments_create)() = nullptr;
  void (*comments_destroy)(OggOpusComments*) = nullptr;
  int (*comments_add)(OggOpusComments*, const char* tag, const char* value) = nullptr;
  OggOpusEnc* (*encoder_create_callbacks)(const OpeCallbacks*, void* user, OggOpusComments*,
                                          std::int32_t rate, int channels, int family,
                                          int* error) = nullptr;
  int (*encoder_write)(OggOpusEnc*, const std::int16_t* pcm, int framesPerChannel) = nullptr;
  int (*encoder_drain)(OggOpusEnc*) = nullptr;
  void (*encoder_destroy)(OggOpusEnc*) = nullptr;
  int (*encoder_ctl)(OggOpusEnc*, int request, ...) = nullptr;
  const char* (*strerror)(int error) = nullptr;

  bool Load(const std::string& name) {
    if (!opusenc.Load(name)) return false;
    return opusenc.Find("ope_comments_create", comments_create) &&
           opusenc.Find("ope_comments_destroy", comments_destroy) &&
           opusenc.Find("ope_comments_add", comments_add) &&
           opusenc.Find("ope_encoder_create_callbacks", encoder_create_callbacks) &&
           opusenc.Find("ope_encoder_write", encoder_write) &&
           opusenc.Find("ope_encoder_drain", encoder_drain) &&
           opusenc.Find("ope_encoder_destroy", encoder_destroy) &&
           opusenc.Find("ope_encoder_ctl", encoder_ctl) &&
           opusenc.Find("ope_strerror", strerror);
  }
};

// The library hands every finished page to OnWrite.
struct OpusWriter::Stream {
  OutputFile file;
  WriteResult error;

  static int OnWrite(void* self, const unsigned char* data, std::int32_t length) {
    auto& s = *static_cast<Stream*>(self);
    if (!s.error) return 1;
    if (length <= 0) return 0;
    if (WriteResult r = s.file.Write(data, static_cast<std::size_t>(length)); !r) {
      s.error = r;
      return 1;
    }
    return 0;
  }
  // The file is finished (or deleted) by the writer itself.
  static int OnClose(void*) { return 0; }
};

std::optional<std::string> OpusBitrateProblem(int kbits) {
  if (kbits >= kOpusMinKbits && kbits <= kOpusMaxKbits) return std::nullopt;
  return "Opus пишется с битрейтом от " + std::to_string(kOpusMinKbits) + " до " +
         std::to_string(kOpusMaxKbits) + " кбит/с.";
}

OpusWriter::OpusWriter(const std::string& library)
    : lib_(std::make_unique<Library>()), stream_(std::make_unique<Stream>()) {
  loaded_ = lib_->Load(library);
}

OpusWriter::~OpusWriter() { Abort(); }

void OpusWriter::Release() {
  if (encoder_ != nullptr) {
    // Whatever the library still writes while it is torn down must not
    // reach the file.
    if (stream_->error) stream_->error = WriteResult::Cancel();
    lib_->encoder_destroy(static_cast<OggOpusEnc*>(encoder_));
    encoder_ = nullptr;
  }
  samples_.clear();
  samples_.shrink_to_fit();
}

WriteResult OpusWriter::Fail(WriteResult r) {
  error_ = r;
  Release();
  stream_->file.Abort();
  return r;
}

WriteResult OpusWriter::EncoderFailure(const char* what, int error) {
  // A write failure says which file and why; anything else is the library's word.
  if (!stream_->error) return Fail(stream_->error);
  const char* why = lib_->strerror(error);
  return Fail(WriteResult::Failure("Кодер Opus не смог " + std::string(what) + " файл '" +
                                   fileName_ + "': " + (why ? why : "ошибка " + std::to_string(error)) +
                                   "."));
}

WriteResult OpusWriter::Open(const TrackTagRecord* tag, const std::string& fileName) {
  if (!loaded_) return WriteResult::Failure(kOpusMissingText);
  if (open_) return WriteResult::Failure(CreateFailureText(fileName, EBUSY));
  const Library& L = *lib_;
  error_ = {};
  fileName_ = fileName;
  const int channels = source_.Channels;
  const std::uint32_t rate = source_.SampleRate;
  const WriteResult refused =
      WriteResult::Failure("Кодер Opus не принял настройки для файла '" + fileName + "'.");
  if (channels < 1 || channels > 8 || source_.BitsPerSample != 16 || rate < 8000 || rate > 768000)
    return refused;

  OggOpusComments* comments = L.comments_create();
  if (comments == nullptr) return WriteResult::Failure(CreateFailureText(fileName, ENOMEM));
  bool ok = true;
  if (tag != nullptr) {
    for (const auto& [key, value] : VorbisCommentsFor(FullTag(*tag), cover_.get()))
      if (L.comments_add(comments, key.c_str(), value.c_str()) != kOpeOk) ok = false;
  }
  if (!ok) {
    L.comments_destroy(comments);
    return refused;
  }

  Stream& s = *stream_;
  s.error = {};
  if (WriteResult created = s.file.Create(fileName); !created) {
    L.comments_destroy(comments);
    return created;
  }
  static constexpr OpeCallbacks kCallbacks{&Stream::OnWrite, &Stream::OnClose};
  int error = kOpeOk;
  // Family 0 holds mono and stereo; more channels take the surround mapping.
  OggOpusEnc* enc = L.encoder_create_callbacks(&kCallbacks, &s, comments,
                                               static_cast<std::int32_t>(rate), channels,
                                               channels <= 2 ? 0 : 1, &error);
  // The encoder keeps its own copy of the comments.
  L.comments_destroy(comments);
  if (enc == nullptr) {
    s.file.Abort();
    return WriteResult::Failure("Кодер Opus не принял настройки для файла '" + fileName +
                                "': " + (L.strerror(error) ? L.strerror(error) : "") + ".");
  }
  encoder_ = enc;
  if (int r = L.encoder_ctl(enc, kOpusSetBitrateRequest, static_cast<std::int32_t>(kbits_ * 1000));
      r != kOpeOk) {
    Fail(refused);
    error_ = {};
    return refused;
  }
  open_ = true;
  return {};
}

WriteResult OpusWriter::Write(const void* pcm, std::size_t byteCount) {
  if (!open_) return WriteResult::Failure(kNotOpenText);
  if (!error_) return error_;
  const unsigned channels = source_.Channels;
  const std::size_t frames = byteCount / (2u * channels);
  if (frames == 0) return {};
  samples_.resize(frames * channels);
  const auto* p = static_cast<const std::uint8_t*>(pcm);
  for (std::size_t i = 0; i < samples_.size(); ++i, p += 2)
    samples_[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
  const int r = lib_->encoder_write(static_cast<OggOpusEnc*>(encoder_), samples_.data(),
                                    static_cast<int>(frames));
  if (r != kOpeOk || !stream_->error) return EncoderFailure("записать", r);
  return {};
}

WriteResult OpusWriter::Close() {
  if (!open_) return WriteResult::Failure(kNotOpenText);
  open_ = false;
  source_ = CdAudioFormat;
  if (!error_) {
    WriteResult r = error_;
    error_ = {};
    return r;
  }
  const int r = lib_->encoder_drain(static_cast<OggOpusEnc*>(encoder_));
  if (r != kOpeOk || !stream_->error) {
    WriteResult failed = EncoderFailure("закончить", r);
    error_ = {};
    return failed;
  }
  Release();
  return stream_->file.Finish();
}

void OpusWriter::Abort() {
  Release();
  stream_->file.Abort();
  open_ = false;
  error_ = {};
  source_ = CdAudioFormat;
}

WriteResult OpusWriter::ConvertFile(const std::string& source, const std::string& output,
                                    const TrackTagRecord* tag) {
  WholeFileRules rules;
  rules.blockBytes = [this] { return static_cast<std::uint32_t>(source_.Channels) * 2u * 4096u; };
  return ConvertWholeFile(source, output, tag, rules);
}

}  // namespace sonarvex
