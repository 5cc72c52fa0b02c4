#include "codec/FormatRegistry.h"

#include <algorithm>
#include <cctype>

#include "codec/AcmMp3Writer.h"
#include "codec/CompressionRatio.h"
#include "codec/EncoderSet.h"
#include "codec/FlacWriter.h"
#include "codec/LameWriter.h"
#include "codec/OpusWriter.h"
#include "codec/VorbisWriter.h"
#include "codec/WavWriter.h"
#include "codec/WmaWriter.h"
#include "platform/IniStore.h"
#include "records/SettingsRecord.h"

namespace sonarvex {
namespace {

// The bitrates (kbit/s) each format is written with, as the settings
// record's indices name them.
constexpr int kLameKbits[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kOggKbits[11] = {350, 256, 192, 160, 128, 96, 80, 64, 48, 40, 32};
constexpr int kWmaKbits[9] = {32, 40, 48, 64, 80, 96, 128, 160, 192};

int IndexOf(const int* table, int count, int value) {
  for (int k = 0; k < count; ++k)
    if (table[k] == value) return k;
  return -1;
}

std::string List(const int* table, int count) {
  std::string t;
  for (int k = 0; k < count; ++k) t += (k ? ", " : "") + std::to_string(table[k]);
  return t;
}

// CD audio bytes a second over a stream's bytes a second.
double AtKbits(double kbits) {
  return kbits > 0 ? 176400.0 / (kbits * 125) : 1.0;
}

bool Always(const SettingsRecord&) {
  return true;
}

std::unique_ptr<AudioWriter> MakeWav(const WriterEnvironment&) {
  return std::make_unique<WavWriter>();
}
std::unique_ptr<AudioWriter> MakeAcm(const WriterEnvironment& env) {
  return std::make_unique<AcmMp3Writer>(
      env.dialogs, env.mp3Drivers ? std::move(*env.mp3Drivers) : InstalledMp3Drivers());
}
std::unique_ptr<AudioWriter> MakeLame(const WriterEnvironment& env) {
  return std::make_unique<LameWriter>(env.dialogs, env.libraries.Lame);
}
std::unique_ptr<AudioWriter> MakeVorbis(const WriterEnvironment& env) {
  return std::make_unique<VorbisWriter>(env.libraries.Ogg, env.libraries.Vorbis,
                                        env.libraries.VorbisEnc);
}
std::unique_ptr<AudioWriter> MakeWma(const WriterEnvironment&) {
  return std::make_unique<WmaWriter>();
}
std::unique_ptr<AudioWriter> MakeFlac(const WriterEnvironment& env) {
  return std::make_unique<FlacWriter>(env.libraries.Flac);
}
std::unique_ptr<AudioWriter> MakeOpus(const WriterEnvironment& env) {
  return std::make_unique<OpusWriter>(env.libraries.OpusEnc);
}

std::optional<std::string> Mp3Bitrate(SettingsRecord& s, FormatOptions&, int kbits) {
  const int index = IndexOf(kLameKbits + 1, 14, kbits);
  if (index < 0) return "MP3 пишется с битрейтом " + List(kLameKbits + 1, 14) + " кбит/с.";
  s.UseLame = 1;
  s.Lame.BitrateIndex = index + 1;
  // A bitrate alone means a constant one.
  s.Lame.VbrEnabled = 0;
  s.Lame.VbrMethod = -1;
  return std::nullopt;
}

std::optional<std::string> OggBitrate(SettingsRecord& s, FormatOptions&, int kbits) {
  const int index = IndexOf(kOggKbits, 11, kbits);
  if (index < 0) return "Ogg Vorbis пишется с битрейтом " + List(kOggKbits, 11) + " кбит/с.";
  s.OggUseQuality = 0;
  s.OggNominalBitrateIndex = index;
  // The managed range holds the nominal bitrate (the list runs downwards).
  if (s.OggMinBitrateIndex < index) s.OggMinBitrateIndex = index;
  if (s.OggMaxBitrateIndex > index) s.OggMaxBitrateIndex = index;
  return std::nullopt;
}

std::optional<std::string> WmaBitrate(SettingsRecord& s, FormatOptions&, int kbits) {
  const int index = IndexOf(kWmaKbits, 9, kbits);
  if (index < 0) return "WMA пишется с битрейтом " + List(kWmaKbits, 9) + " кбит/с.";
  s.WmaBitrateIndex = static_cast<std::uint8_t>(index);
  return std::nullopt;
}

// Opus keeps its bitrate beside the record, as an option of the format.
std::optional<std::string> OpusBitrate(SettingsRecord&, FormatOptions& options, int kbits) {
  if (auto problem = OpusBitrateProblem(kbits)) return problem;
  options.Set(kOpusBitrateOption, kbits);
  return std::nullopt;
}

// The formats in the order the command line lists them. A new format is
// one more entry here (and its OutputKind).
std::vector<OutputFormat> MakeFormats() {
  std::vector<OutputFormat> f;
  f.push_back({
      .kind = OutputKind::Wav,
      .name = "wav",
      .extension = ".wav",
      .title = "WAV",
      .lossless = true,
      .compressed = false,
      .tags = TagStyle::None,
      .options = {},
      .encoders = {{"wav", MakeWav, Always}},
      .missingText = nullptr,
      .menu = {"WAVE1", "W&AVE", "F6", 3},
      .expectedRatio = [](const SettingsRecord&, const EncoderSet&) { return 1.0; },
      .setBitrate = nullptr,
  });
  f.push_back({
      .kind = OutputKind::Mp3,
      .name = "mp3",
      .extension = ".mp3",
      .title = "MP3",
      .lossless = false,
      .compressed = true,
      .tags = TagStyle::Id3v2,
      .options = {},
      .encoders = {{"acm", MakeAcm, [](const SettingsRecord& s) { return s.UseLame == 0; }},
                   {"lame", MakeLame, [](const SettingsRecord& s) { return s.UseLame != 0; }}},
      .missingText = nullptr,
      .menu = {"MP3", "&MP3", "F9", 0},
      // LAME's ratio follows from the settings alone; the codec layer's
      // writer (and FFmpeg behind it) is made only when the settings choose it.
      .expectedRatio =
          [](const SettingsRecord& s, const EncoderSet& e) {
            return s.UseLame != 0 ? LameCompressionRatio(s.Lame)
                                  : ExpectedCompressionRatio(s, e.Acm());
          },
      .setBitrate = Mp3Bitrate,
  });
  f.push_back({
      .kind = OutputKind::Ogg,
      .name = "ogg",
      .extension = ".ogg",
      .title = "Ogg Vorbis",
      .lossless = false,
      .compressed = true,
      .tags = TagStyle::VorbisComments,
      .options = {},
      .encoders = {{"vorbis", MakeVorbis, Always}},
      .missingText = "Кодирование в OGG невозможно т.к. нет необходимых библиотек.",
      .menu = {"OGG1", "OGG", "F8", 1},
      // Vorbis at its quality varies with the music: counted at the most a
      // stereo stream commonly takes.
      .expectedRatio = [](const SettingsRecord&, const EncoderSet&) { return AtKbits(320); },
      .setBitrate = OggBitrate,
  });
  f.push_back({
      .kind = OutputKind::Wma,
      .name = "wma",
      .extension = ".wma",
      .title = "WMA",
      .lossless = false,
      .compressed = true,
      .tags = TagStyle::WmaAttributes,
      .options = {},
      .encoders = {{"wma", MakeWma, Always}},
      .missingText = "Кодирование в WMA невозможно т.к. кодер не установлен.",
      .menu = {"WMA1", "&WMA", "F7", 2},
      .expectedRatio =
          [](const SettingsRecord& s, const EncoderSet&) {
            return AtKbits(kWmaKbits[std::min<int>(s.WmaBitrateIndex, 8)]);
          },
      .setBitrate = WmaBitrate,
  });
  f.push_back({
      .kind = OutputKind::Flac,
      .name = "flac",
      .extension = ".flac",
      .title = "FLAC",
      .lossless = true,
      .compressed = true,
      .tags = TagStyle::VorbisComments,
      .options = {kFlacLevelOption, kFlacVerifyOption},
      .encoders = {{"flac", MakeFlac, Always}},
      .missingText = "Кодирование в FLAC невозможно т.к. библиотека libFLAC не установлена.",
      .menu = {"FLAC1", "F&LAC", "F11", 4},
      .expectedRatio = [](const SettingsRecord&,
                          const EncoderSet&) { return kFlacCompressionRatio; },
      .setBitrate = nullptr,
  });
  f.push_back({
      .kind = OutputKind::Opus,
      .name = "opus",
      .extension = ".opus",
      .title = "Opus",
      .lossless = false,
      .compressed = true,
      .tags = TagStyle::VorbisComments,
      .options = {kOpusBitrateOption},
      .encoders = {{"opus", MakeOpus, Always}},
      .missingText = kOpusMissingText,
      .menu = {"OPUS1", "O&pus", "F12", 5},
      // The encoder holds the bitrate it was given closely, music or not.
      .expectedRatio = [](const SettingsRecord&,
                          const EncoderSet& e) { return AtKbits(e.Opus().Bitrate()); },
      .setBitrate = OpusBitrate,
  });
  return f;
}

}  // namespace

const FormatEncoder* OutputFormat::ChosenEncoder(const SettingsRecord& settings) const {
  for (const FormatEncoder& e : encoders)
    if (e.chosen(settings)) return &e;
  return nullptr;
}

const std::vector<OutputFormat>& OutputFormats() {
  static const std::vector<OutputFormat> formats = MakeFormats();
  return formats;
}

const OutputFormat* FindFormat(OutputKind kind) {
  for (const OutputFormat& f : OutputFormats())
    if (f.kind == kind) return &f;
  return nullptr;
}

const OutputFormat& FormatFor(OutputKind kind) {
  const OutputFormat* f = FindFormat(kind);
  return f ? *f : *FindFormat(OutputKind::Wav);
}

const OutputFormat& FormatForValue(int value) {
  for (const OutputFormat& f : OutputFormats())
    if (static_cast<int>(f.kind) == value) return f;
  return FormatFor(OutputKind::Wav);
}

const OutputFormat* FindFormatByName(std::string_view name) {
  for (const OutputFormat& f : OutputFormats())
    if (name == f.name) return &f;
  return nullptr;
}

const OutputFormat* FindFormatByExtension(std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  if (extension.empty()) return nullptr;
  for (const OutputFormat& f : OutputFormats()) {
    const std::string_view own = std::string_view(f.extension).substr(1);
    if (own.size() == extension.size() &&
        std::equal(own.begin(), own.end(), extension.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        }))
      return &f;
  }
  return nullptr;
}

std::vector<const OutputFormat*> GrabMenuFormats() {
  std::vector<const OutputFormat*> v;
  for (const OutputFormat& f : OutputFormats()) v.push_back(&f);
  std::stable_sort(v.begin(), v.end(), [](const OutputFormat* a, const OutputFormat* b) {
    return a->menu.position < b->menu.position;
  });
  return v;
}

std::string JoinFormatNames(const std::vector<const OutputFormat*>& formats,
                            std::string_view separator, std::string_view lastSeparator) {
  std::string out;
  for (std::size_t k = 0; k < formats.size(); ++k) {
    if (k > 0) out += k + 1 == formats.size() ? lastSeparator : separator;
    out += formats[k]->name;
  }
  return out;
}

std::string JoinFormatNames(std::string_view separator, std::string_view lastSeparator) {
  std::vector<const OutputFormat*> all;
  for (const OutputFormat& f : OutputFormats()) all.push_back(&f);
  return JoinFormatNames(all, separator, lastSeparator);
}

std::unique_ptr<AudioWriter> MakeWriter(const OutputFormat& format, const WriterEnvironment& env,
                                        const SettingsRecord& settings,
                                        const FormatOptions& options) {
  const FormatEncoder* encoder = format.ChosenEncoder(settings);
  if (encoder == nullptr) return nullptr;
  std::unique_ptr<AudioWriter> writer = encoder->make(env);
  writer->Configure(settings);
  writer->SetOptions(options);
  return writer;
}

int StoredOptionValue(const IniStore& ini, const FormatOption& option) {
  const auto v = ini.GetInt(option.section, option.key);
  if (!v || *v < option.min || *v > option.max) return option.def;
  return static_cast<int>(*v);
}

void StoreOptionValue(IniStore& ini, const FormatOption& option, int value) {
  ini.SetInt(option.section, option.key, option.Clamped(value));
}

FormatOptions StoredFormatOptions(const IniStore& ini) {
  FormatOptions options;
  for (const OutputFormat& f : OutputFormats())
    for (const FormatOption& o : f.options) options.Set(o, StoredOptionValue(ini, o));
  return options;
}

}  // namespace sonarvex
