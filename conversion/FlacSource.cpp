#include "conversion/FlacSource.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "codec/AudioFormat.h"
#include "codec/EncoderSet.h"
#include "codec/FlacReader.h"
#include "codec/WavFile.h"
#include "platform/Files.h"

namespace sonarvex {

namespace {

// A metadata block above this is not read for its tags (a cover of that
// size is no cover a player shows).
constexpr std::uint32_t kLargestTagBlock = 16u * 1024 * 1024;
constexpr int kVorbisCommentBlock = 4;
constexpr int kPictureBlock = 6;

bool ReadAt(int fd, std::uint64_t at, void* to, std::size_t n) {
  auto* p = static_cast<std::uint8_t*>(to);
  while (n > 0) {
    const ssize_t r = ::pread(fd, p, n, static_cast<off_t>(at));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    at += static_cast<std::uint64_t>(r);
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint32_t Be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Where a Vorbis comment goes: a field of the record or an info key.
struct CommentTarget {
  const char* name;
  bool field;
  TagField tag;
  const char* info;
};
constexpr CommentTarget kCommentTargets[] = {
    {"TITLE", true, TagField::Title, nullptr},
    {"ARTIST", true, TagField::Artist, nullptr},
    {"ALBUM", true, TagField::Album, nullptr},
    {"COMMENT", true, TagField::Comment, nullptr},
    {"DESCRIPTION", true, TagField::Comment, nullptr},
    {"TRACKNUMBER", true, TagField::TrackNumber, nullptr},
    {"GENRE", true, TagField::Genre, nullptr},
    {"COMPOSER", true, TagField::Composer, nullptr},
    {"COPYRIGHT", true, TagField::Copyright, nullptr},
    {"ENCODED-BY", true, TagField::EncodedBy, nullptr},
    {"CONTACT", true, TagField::Url, nullptr},
    {"ALBUMARTIST", false, TagField::Title, "AlbumArtist"},
    {"DATE", false, TagField::Title, "Date"},
    {"ORIGINALDATE", false, TagField::Title, "OriginalDate"},
    {"DISCNUMBER", false, TagField::Title, "DiscNumber"},
    {"DISCTOTAL", false, TagField::Title, "DiscTotal"},
    {"TOTALDISCS", false, TagField::Title, "DiscTotal"},
    {"LABEL", false, TagField::Title, "Label"},
    {"CATALOGNUMBER", false, TagField::Title, "CatalogNumber"},
    {"BARCODE", false, TagField::Title, "Barcode"},
    {"RELEASECOUNTRY", false, TagField::Title, "ReleaseCountry"},
    {"MEDIA", false, TagField::Title, "Media"},
    {"ISRC", false, TagField::Title, "Isrc"},
    {"MUSICBRAINZ_ALBUMID", false, TagField::Title, "MusicBrainzAlbumId"},
    {"MUSICBRAINZ_ALBUMARTISTID", false, TagField::Title, "MusicBrainzAlbumArtistId"},
    {"MUSICBRAINZ_RELEASEGROUPID", false, TagField::Title, "MusicBrainzReleaseGroupId"},
    {"MUSICBRAINZ_DISCID", false, TagField::Title, "MusicBrainzDiscId"},
    {"MUSICBRAINZ_TRACKID", false, TagField::Title, "MusicBrainzTrackId"},
    {"MUSICBRAINZ_RELEASETRACKID", false, TagField::Title, "MusicBrainzReleaseTrackId"},
    {"MUSICBRAINZ_ARTISTID", false, TagField::Title, "MusicBrainzArtistId"},
};

// Takes the comments of a VORBIS_COMMENT block; false when it is malformed.
bool TakeComments(const std::vector<std::uint8_t>& b, std::vector<std::pair<std::string, std::string>>& out) {
  std::size_t at = 0;
  auto take32 = [&](std::uint32_t* v) {
    if (b.size() - at < 4) return false;
    *v = Le32(b.data() + at);
    at += 4;
    return true;
  };
  std::uint32_t vendor = 0, count = 0;
  if (!take32(&vendor) || b.size() - at < vendor) return false;
  at += vendor;
  if (!take32(&count)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t len = 0;
    if (!take32(&len) || b.size() - at < len) return false;
    const std::string entry(reinterpret_cast<const char*>(b.data() + at), len);
    at += len;
    const std::size_t eq = entry.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    out.emplace_back(Upper(entry.substr(0, eq)), entry.substr(eq + 1));
  }
  return true;
}

// A PICTURE block as a cover; false when it is malformed or no image.
bool TakePicture(const std::vector<std::uint8_t>& b, std::uint32_t* type, CoverImage* image) {
  std::size_t at = 0;
  auto take32 = [&](std::uint32_t* v) {
    if (b.size() - at < 4) return false;
    *v = Be32(b.data() + at);
    at += 4;
    return true;
  };
  std::uint32_t mimeLen = 0, descLen = 0, skip = 0, dataLen = 0;
  if (!take32(type) || !take32(&mimeLen) || b.size() - at < mimeLen) return false;
  at += mimeLen;
  if (!take32(&descLen) || b.size() - at < descLen) return false;
  at += descLen;
  for (int i = 0; i < 4; ++i)
    if (!take32(&skip)) return false;
  if (!take32(&dataLen) || b.size() - at < dataLen) return false;
  std::vector<std::uint8_t> bytes(b.begin() + static_cast<long>(at),
                                  b.begin() + static_cast<long>(at + dataLen));
  return ReadCoverImage(std::move(bytes), *image);
}

}  // namespace

bool ReadFlacTags(const std::string& path, TrackTags* tags, CoverImage* cover) {
  const int fd = OpenRegularFile(path);
  if (fd < 0) return false;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  std::uint8_t head[10];
  std::uint64_t at = 0;
  if (!ReadAt(fd, 0, head, 4)) return false;
  // An ID3v2 tag before the stream is stepped over.
  if (std::memcmp(head, "ID3", 3) == 0) {
    if (!ReadAt(fd, 0, head, 10)) return false;
    at = 10 + ((head[6] & 0x7Fu) << 21 | (head[7] & 0x7Fu) << 14 | (head[8] & 0x7Fu) << 7 |
               (head[9] & 0x7Fu));
    if (head[5] & 0x10) at += 10;
    if (!ReadAt(fd, at, head, 4)) return false;
  }
  if (std::memcmp(head, "fLaC", 4) != 0) return false;
  at += 4;
  std::vector<std::pair<std::string, std::string>> comments;
  CoverImage front, first;
  bool haveFront = false, haveFirst = false;
  for (bool last = false; !last;) {
    std::uint8_t h[4];
    if (!ReadAt(fd, at, h, 4)) return false;
    last = (h[0] & 0x80) != 0;
    const int type = h[0] & 0x7F;
    const std::uint32_t size = (static_cast<std::uint32_t>(h[1]) << 16) | (h[2] << 8) | h[3];
    at += 4;
    if ((type == kVorbisCommentBlock || type == kPictureBlock) && size <= kLargestTagBlock) {
      std::vector<std::uint8_t> block(size);
      if (!ReadAt(fd, at, block.data(), size)) return false;
      if (type == kVorbisCommentBlock) {
        if (!TakeComments(block, comments)) return false;
      } else if (!haveFront) {
        std::uint32_t pictureType = 0;
        CoverImage image;
        if (TakePicture(block, &pictureType, &image)) {
          if (pictureType == 3) {
            front = std::move(image);
            haveFront = true;
          } else if (!haveFirst) {
            first = std::move(image);
            haveFirst = true;
          }
        }
      }
    } else if (type == 127) {
      return false;  // no valid block type
    }
    at += size;
  }

  std::vector<std::pair<const CommentTarget*, std::string>> found;
  for (const auto& [key, value] : comments) {
    for (const CommentTarget& t : kCommentTargets) {
      if (key != t.name) continue;
      auto it = std::find_if(found.begin(), found.end(), [&](const auto& f) {
        return f.first->field == t.field && (t.field ? f.first->tag == t.tag
                                                      : std::strcmp(f.first->info, t.info) == 0);
      });
      if (it == found.end()) found.emplace_back(&t, value);
      else if (!value.empty()) it->second += "; " + value;
      break;
    }
  }
  for (const auto& [t, value] : found) {
    if (t->field) tags->Set(t->tag, value);
    else tags->Texts.Put(t->info, value);
    // The year of a date such as "1988-01-05"; any other date as it is.
    if (!t->field && std::strcmp(t->info, "Date") == 0) {
      const bool year = value.size() >= 4 && std::all_of(value.begin(), value.begin() + 4, [](char c) {
        return c >= '0' && c <= '9';
      });
      tags->Set(TagField::Year, year ? value.substr(0, 4) : value);
    }
  }
  if (!found.empty()) tags->Record.TagsOn = 1;
  if (cover != nullptr && (haveFront || haveFirst)) *cover = haveFront ? std::move(front) : std::move(first);
  return true;
}

FlacConvertJob::FlacConvertJob(std::string source, OutputKind kind, EncoderSet* encoders)
    : source_(std::move(source)),
      kind_(kind),
      encoders_(encoders),
      reader_(std::make_unique<FlacReader>()) {}

FlacConvertJob::~FlacConvertJob() { Stop(); }

WriteResult FlacConvertJob::Open() {
  WriteResult r = reader_->Open(source_);
  if (r) total_ = reader_->TotalSamples();
  return r;
}

WriteResult FlacConvertJob::Start(const std::string& output, const TrackTags& tags,
                                  const FormatOptions& options) {
  if (!reader_->IsOpen()) return WriteResult::Failure("Файл '" + source_ + "' не открыт.");
  output_ = output;
  part_ = output + ".part";
  if (encoders_ == nullptr) {
    const std::uint64_t bytes = reader_->PcmBytes();
    if (bytes > 0xFFFFFFFFull - kWavHeaderSize)
      return WriteResult::Failure(WriteFailureText(output_, EFBIG));
    if (WriteResult r = wav_.Create(part_); !r) return r;
    std::uint8_t header[kWavHeaderSize];
    BuildWavHeader(header, static_cast<std::uint32_t>(bytes), CdAudioFormat);
    if (WriteResult r = wav_.Write(header, sizeof header); !r) {
      wav_.Abort();
      return r;
    }
  } else {
    encoders_->SetSourceFormat(nullptr);
    if (WriteResult r = encoders_->Open(tags, part_, kind_, options); !r) return r;
  }
  started_ = true;
  thread_ = std::thread([this] { Run(); });
  return {};
}

void FlacConvertJob::Run() {
  std::vector<std::uint8_t> block(64 * 1024);
  WriteResult r;
  for (;;) {
    if (cancel_.load(std::memory_order_relaxed)) {
      r = WriteResult::Cancel();
      break;
    }
    std::size_t got = 0;
    r = reader_->Read(block.data(), block.size(), &got);
    if (!r) sourceFailed_ = true;
    if (!r || got == 0) break;
    r = encoders_ != nullptr ? encoders_->Write(block.data(), got) : wav_.Write(block.data(), got);
    if (!r) break;
    position_.fetch_add(got / 4, std::memory_order_relaxed);
  }
  if (r && reader_->PcmBytes() != position_.load() * 4) {
    r = WriteResult::Failure("Файл FLAC '" + source_ + "' повреждён или обрезан.");
    sourceFailed_ = true;
  }
  if (encoders_ != nullptr) {
    if (r) r = encoders_->Close();
    else encoders_->Abort();
  } else {
    if (r) r = wav_.Finish();
    else wav_.Abort();
  }
  reader_->Close();
  result_ = r;
  done_.store(true, std::memory_order_release);
}

void FlacConvertJob::Stop() {
  if (!started_) return;
  cancel_.store(true, std::memory_order_relaxed);
  if (thread_.joinable()) thread_.join();
  // What the thread left unfinished (or finished but was not collected) goes.
  if (!result_.Ok() || !done_.load()) ::unlink(part_.c_str());
  started_ = false;
}

}  // namespace sonarvex
