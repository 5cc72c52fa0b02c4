#include "codec/FlacWriter.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "codec/DynamicLibrary.h"
#include "codec/Id3v2Writer.h"
#include "codec/WavSourceReader.h"

namespace sonarvex {

namespace {

constexpr const char* kNotLoadedText = "Кодирование в FLAC невозможно т.к. нет необходимых библиотек.";
constexpr const char* kNotOpenText = "Файл FLAC не открыт.";

}  // namespace

struct FlacWriter::Library {
  DynamicLibrary flac;
  decltype(&::FLAC__stream_encoder_new) encoder_new = nullptr;
  decltype(&::FLAC__stream_encoder_delete) encoder_delete = nullptr;
  decltype(&::FLAC__stream_encoder_set_verify) set_verify = nullptr;
  decltype(&::FLAC__stream_encoder_set_compression_level) set_compression_level = nullptr;
  decltype(&::FLAC__stream_encoder_set_channels) set_channels = nullptr;
  decltype(&::FLAC__stream_encoder_set_bits_per_sample) set_bits_per_sample = nullptr;
  decltype(&::FLAC__stream_encoder_set_sample_rate) set_sample_rate = nullptr;
  decltype(&::FLAC__stream_encoder_set_total_samples_estimate) set_total_samples_estimate = nullptr;
  decltype(&::FLAC__stream_encoder_set_metadata) set_metadata = nullptr;
  decltype(&::FLAC__stream_encoder_init_stream) init_stream = nullptr;
  decltype(&::FLAC__stream_encoder_process_interleaved) process_interleaved = nullptr;
  decltype(&::FLAC__stream_encoder_finish) finish = nullptr;
  decltype(&::FLAC__stream_encoder_get_state) get_state = nullptr;
  decltype(&::FLAC__stream_encoder_get_resolved_state_string) state_string = nullptr;
  decltype(&::FLAC__metadata_object_new) object_new = nullptr;
  decltype(&::FLAC__metadata_object_delete) object_delete = nullptr;
  decltype(&::FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair) entry_from_pair = nullptr;
  decltype(&::FLAC__metadata_object_vorbiscomment_append_comment) append_comment = nullptr;
  decltype(&::FLAC__metadata_object_picture_set_mime_type) picture_set_mime_type = nullptr;
  decltype(&::FLAC__metadata_object_picture_set_data) picture_set_data = nullptr;

  bool Load(const std::string& name) {
    if (!flac.Load(name)) return false;
    return flac.Find("FLAC__stream_encoder_new", encoder_new) &&
           flac.Find("FLAC__stream_encoder_delete", encoder_delete) &&
           flac.Find("FLAC__stream_encoder_set_verify", set_verify) &&
           flac.Find("FLAC__stream_encoder_set_compression_level", set_compression_level) &&
           flac.Find("FLAC__stream_encoder_set_channels", set_channels) &&
           flac.Find("FLAC__stream_encoder_set_bits_per_sample", set_bits_per_sample) &&
           flac.Find("FLAC__stream_encoder_set_sample_rate", set_sample_rate) &&
           flac.Find("FLAC__stream_encoder_set_total_samples_estimate", set_total_samples_estimate) &&
           flac.Find("FLAC__stream_encoder_set_metadata", set_metadata) &&
           flac.Find("FLAC__stream_encoder_init_stream", init_stream) &&
           flac.Find("FLAC__stream_encoder_process_interleaved", process_interleaved) &&
           flac.Find("FLAC__stream_encoder_finish", finish) &&
           flac.Find("FLAC__stream_encoder_get_state", get_state) &&
           flac.Find("FLAC__stream_encoder_get_resolved_state_string", state_string) &&
           flac.Find("FLAC__metadata_object_new", object_new) &&
           flac.Find("FLAC__metadata_object_delete", object_delete) &&
           flac.Find("FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair",
                     entry_from_pair) &&
           flac.Find("FLAC__metadata_object_vorbiscomment_append_comment", append_comment) &&
           flac.Find("FLAC__metadata_object_picture_set_mime_type", picture_set_mime_type) &&
           flac.Find("FLAC__metadata_object_picture_set_data", picture_set_data);
  }
};

// The encoder writes through these callbacks; at the end it seeks back to
// complete the stream header, which lands in the file with a positioned write.
struct FlacWriter::Stream {
  OutputFile file;
  std::uint64_t position = 0;
  WriteResult error;

  static FLAC__StreamEncoderWriteStatus OnWrite(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                                size_t bytes, uint32_t, uint32_t, void* self) {
    auto& s = *static_cast<Stream*>(self);
    if (!s.error) return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    WriteResult r = s.position == s.file.Position() ? s.file.Write(buffer, bytes)
                                                    : s.file.WriteAt(s.position, buffer, bytes);
    if (!r) {
      s.error = r;
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    s.position += bytes;
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  }
  static FLAC__StreamEncoderSeekStatus OnSeek(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                              void* self) {
    auto& s = *static_cast<Stream*>(self);
    if (offset > s.file.Position()) return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    s.position = offset;
    return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
  }
  static FLAC__StreamEncoderTellStatus OnTell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                              void* self) {
    *offset = static_cast<Stream*>(self)->position;
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
  }
};

std::vector<std::pair<std::string, std::string>> FlacCommentsFor(const TrackTags& tag,
                                                                 const FlacDiscTags& disc) {
  std::vector<std::pair<std::string, std::string>> out;
  if (!tag.On()) return out;
  auto add = [&](const char* key, std::string value) {
    if (!value.empty()) out.emplace_back(key, std::move(value));
  };
  add("TITLE", tag.Get(TagField::Title));
  add("ARTIST", tag.Get(TagField::Artist));
  add("ALBUM", tag.Get(TagField::Album));
  // The release's artist where a lookup gave one, else the disc's for a
  // compilation.
  const std::string albumArtist = tag.Info("AlbumArtist");
  add("ALBUMARTIST", !albumArtist.empty() ? albumArtist : disc.AlbumArtist);
  add("TRACKNUMBER", tag.Get(TagField::TrackNumber));
  if (disc.TrackTotal > 0) add("TRACKTOTAL", std::to_string(disc.TrackTotal));
  const std::string date = tag.Info("Date");
  add("DATE", !date.empty() ? date : tag.Get(TagField::Year));
  add("GENRE", tag.Get(TagField::Genre));
  add("COMMENT", tag.Get(TagField::Comment));
  for (auto& c : InfoVorbisComments(tag)) out.push_back(std::move(c));
  return out;
}

FlacWriter::FlacWriter(const std::string& library)
    : lib_(std::make_unique<Library>()), stream_(std::make_unique<Stream>()) {
  loaded_ = lib_->Load(library);
}

FlacWriter::~FlacWriter() { Abort(); }

void FlacWriter::SetLevel(int level) { level_ = std::clamp(level, kFlacMinLevel, kFlacMaxLevel); }

void FlacWriter::Release() {
  const Library& L = *lib_;
  if (encoder_ != nullptr) {
    // Deleting an unfinished encoder finishes it: nothing of that may reach the file.
    if (stream_->error) stream_->error = WriteResult::Cancel();
    L.encoder_delete(static_cast<FLAC__StreamEncoder*>(encoder_));
    encoder_ = nullptr;
  }
  for (void* m : metadata_) L.object_delete(static_cast<FLAC__StreamMetadata*>(m));
  metadata_.clear();
  samples_.clear();
  samples_.shrink_to_fit();
}

WriteResult FlacWriter::Fail(WriteResult r) {
  error_ = r;
  Release();
  stream_->file.Abort();
  return r;
}

WriteResult FlacWriter::EncoderFailure(const std::string& what) {
  // A write failure says which file and why; anything else is the encoder's own state.
  if (!stream_->error) return Fail(stream_->error);
  const auto* enc = static_cast<FLAC__StreamEncoder*>(encoder_);
  const FLAC__StreamEncoderState state = lib_->get_state(enc);
  if (state == FLAC__STREAM_ENCODER_VERIFY_MISMATCH_IN_AUDIO_DATA)
    return Fail(WriteResult::Failure("Проверка FLAC не прошла: декодированный звук файла '" +
                                     fileName_ + "' не совпадает с исходным."));
  return Fail(WriteResult::Failure("Кодер FLAC не смог " + what + " файл '" + fileName_ +
                                   "': " + lib_->state_string(enc) + "."));
}

WriteResult FlacWriter::Open(const TrackTagRecord* tag, const std::string& fileName) {
  if (!loaded_) return WriteResult::Failure(kNotLoadedText);
  if (open_) return WriteResult::Failure(CreateFailureText(fileName, EBUSY));
  const Library& L = *lib_;
  error_ = {};
  fileName_ = fileName;
  const unsigned channels = source_.Channels;
  if (channels < 1 || channels > 8 || source_.BitsPerSample != 16 || source_.SampleRate == 0 ||
      source_.SampleRate > 655350)
    return WriteResult::Failure("Кодер FLAC не принял настройки для файла '" + fileName + "'.");

  auto* enc = L.encoder_new();
  if (enc == nullptr) return WriteResult::Failure(CreateFailureText(fileName, ENOMEM));
  encoder_ = enc;
  bool ok = L.set_verify(enc, verify_) && L.set_compression_level(enc, static_cast<unsigned>(level_)) &&
            L.set_channels(enc, channels) && L.set_bits_per_sample(enc, 16) &&
            L.set_sample_rate(enc, source_.SampleRate) &&
            L.set_total_samples_estimate(enc, expectedFrames_);
  if (tag != nullptr) {
    const auto comments = FlacCommentsFor(FullTag(*tag), disc_);
    if (!comments.empty()) {
      FLAC__StreamMetadata* vc = L.object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
      if (vc == nullptr) ok = false;
      else metadata_.push_back(vc);
      for (const auto& [key, value] : comments) {
        FLAC__StreamMetadata_VorbisComment_Entry entry;
        if (!ok || !L.entry_from_pair(&entry, key.c_str(), value.c_str()) ||
            !L.append_comment(vc, entry, /*copy=*/false)) {
          ok = false;
          break;
        }
      }
    }
  }
  // The front cover as a picture block (with the tags: none when they are off).
  if (ok && tag != nullptr && tag->TagsOn != 0 && cover_ && !cover_->Empty()) {
    FLAC__StreamMetadata* picture = L.object_new(FLAC__METADATA_TYPE_PICTURE);
    if (picture == nullptr) {
      ok = false;
    } else {
      metadata_.push_back(picture);
      picture->data.picture.type = FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER;
      picture->data.picture.width = cover_->width;
      picture->data.picture.height = cover_->height;
      picture->data.picture.depth = cover_->depth;
      picture->data.picture.colors = 0;
      std::string mime = cover_->mime;
      std::vector<FLAC__byte> data(cover_->bytes.begin(), cover_->bytes.end());
      ok = L.picture_set_mime_type(picture, mime.data(), /*copy=*/true) &&
           L.picture_set_data(picture, data.data(), static_cast<FLAC__uint32>(data.size()),
                              /*copy=*/true);
    }
  }
  // Room for tags edited later without rewriting the audio.
  if (FLAC__StreamMetadata* padding = L.object_new(FLAC__METADATA_TYPE_PADDING)) {
    padding->length = 4096;
    metadata_.push_back(padding);
  } else {
    ok = false;
  }
  if (ok) {
    ok = L.set_metadata(enc, reinterpret_cast<FLAC__StreamMetadata**>(metadata_.data()),
                        static_cast<unsigned>(metadata_.size()));
  }
  if (!ok) {
    Release();
    return WriteResult::Failure("Кодер FLAC не принял настройки для файла '" + fileName + "'.");
  }

  Stream& s = *stream_;
  s.position = 0;
  s.error = {};
  if (WriteResult created = s.file.Create(fileName); !created) {
    Release();
    return created;
  }
  const FLAC__StreamEncoderInitStatus init =
      L.init_stream(enc, &Stream::OnWrite, &Stream::OnSeek, &Stream::OnTell, nullptr, &s);
  if (init != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    WriteResult r = EncoderFailure("начать");
    error_ = {};
    return r;
  }
  open_ = true;
  return {};
}

WriteResult FlacWriter::Write(const void* pcm, std::size_t byteCount) {
  if (!open_) return WriteResult::Failure(kNotOpenText);
  if (!error_) return error_;
  const unsigned channels = source_.Channels;
  const std::size_t frames = byteCount / (2u * channels);
  if (frames == 0) return {};
  // Widened to libFLAC's 32-bit samples a slice at a time, so that a large
  // block of PCM does not cost a large buffer in every encoder of a rip.
  constexpr std::size_t kSliceFrames = 8192;
  const auto* p = static_cast<const std::uint8_t*>(pcm);
  for (std::size_t done = 0; done < frames;) {
    const std::size_t n = std::min(kSliceFrames, frames - done);
    samples_.resize(n * channels);
    for (std::size_t i = 0; i < samples_.size(); ++i, p += 2)
      samples_[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
    if (!lib_->process_interleaved(static_cast<FLAC__StreamEncoder*>(encoder_), samples_.data(),
                                   static_cast<unsigned>(n)))
      return EncoderFailure("записать");
    done += n;
  }
  return {};
}

WriteResult FlacWriter::Close() {
  if (!open_) return WriteResult::Failure(kNotOpenText);
  open_ = false;
  source_ = CdAudioFormat;
  if (!error_) {
    WriteResult r = error_;
    error_ = {};
    return r;
  }
  if (!lib_->finish(static_cast<FLAC__StreamEncoder*>(encoder_))) {
    WriteResult r = EncoderFailure("закончить");
    error_ = {};
    return r;
  }
  Release();
  return stream_->file.Finish();
}

void FlacWriter::Abort() {
  Release();
  stream_->file.Abort();
  open_ = false;
  error_ = {};
  source_ = CdAudioFormat;
}

WriteResult FlacWriter::ConvertFile(const std::string& source, const std::string& output,
                                    const TrackTagRecord* tag) {
  WholeFileRules rules;
  rules.blockBytes = [this] { return static_cast<std::uint32_t>(source_.Channels) * 2u * 4096u; };
  return ConvertWholeFile(source, output, tag, rules);
}

}  // namespace sonarvex
