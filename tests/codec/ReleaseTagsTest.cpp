// What a MusicBrainz lookup gives beyond the tag record (identifiers, album
// artist, dates, disc, label, ...) in the files of every compressed format,
// read back by the peer programs: metaflac, vorbiscomment, mutagen-inspect
// and ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "codec/EncoderSet.h"
#include "codec/Id3v2Writer.h"
#include "platform/ScriptedDialogs.h"
#include "tests/codec/CodecTestUtil.h"

namespace sonarvex {
namespace {

bool Have(const char* program) {
  int rc = -1;
  test::Run(std::string("command -v ") + program + " >/dev/null", &rc);
  return rc == 0;
}

SettingsRecord Defaults(int outputKind) {
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/tmp/");
  s.OutputKind = static_cast<std::uint8_t>(outputKind);
  s.UseLame = 1;
  return s;
}

// A track as the MusicBrainz lookup leaves it: album keys and its own.
TrackTags ReleaseTrack() {
  TrackTags t;
  t.Record.TagsOn = 1;
  t.Set(TagField::Title, "Вторая песня");
  t.Set(TagField::Artist, "Кино");
  t.Set(TagField::Album, "Группа крови");
  t.Set(TagField::TrackNumber, "2");
  t.Set(TagField::Year, "1988");
  const std::pair<const char*, const char*> info[] = {
      {"MusicBrainzAlbumId", "0a2e4e8f-7a3c-4b8b-9a39-2e6f1b6f2d11"},
      {"MusicBrainzAlbumArtistId",
       "5b11f4ce-a62d-471e-81fc-a69a8278c7da; 9c9f1380-2516-4fc9-a3e6-f9f61941d090"},
      {"MusicBrainzReleaseGroupId", "4c8f2f7e-1b3a-4d0f-8a1e-0c2b3d4e5f60"},
      {"MusicBrainzDiscId", "lwHl8fGzJyLXQR33ug60E8jhf4k-"},
      {"AlbumArtist", "Кино и друзья"},
      {"Date", "1988-01-05"},
      {"OriginalDate", "1987-11-30"},
      {"DiscNumber", "1"},
      {"DiscTotal", "2"},
      {"Label", "Мелодия; Moroz Records"},
      {"CatalogNumber", "C60 27403 009"},
      {"Barcode", "4600317003323"},
      {"ReleaseCountry", "SU"},
      {"Media", "CD"},
      {"MusicBrainzTrackId", "6f0c7a8e-3d1b-4b56-9c1e-2a3b4c5d6e7f"},
      {"MusicBrainzReleaseTrackId", "7a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"},
      {"MusicBrainzArtistId", "5b11f4ce-a62d-471e-81fc-a69a8278c7da"},
      {"Isrc", "SUA018800002; SUA018800102"}};
  for (const auto& [key, text] : info) t.Texts.Put(key, text);
  return t;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The Vorbis comments every format that uses them must carry for the track.
const std::vector<std::string> kReleaseComments = {
    "ALBUMARTIST=Кино и друзья",
    "DATE=1988-01-05",
    "ORIGINALDATE=1987-11-30",
    "DISCNUMBER=1",
    "DISCTOTAL=2",
    "LABEL=Мелодия",
    "LABEL=Moroz Records",
    "CATALOGNUMBER=C60 27403 009",
    "BARCODE=4600317003323",
    "RELEASECOUNTRY=SU",
    "MEDIA=CD",
    "ISRC=SUA018800002",
    "ISRC=SUA018800102",
    "MUSICBRAINZ_ALBUMID=0a2e4e8f-7a3c-4b8b-9a39-2e6f1b6f2d11",
    "MUSICBRAINZ_ALBUMARTISTID=5b11f4ce-a62d-471e-81fc-a69a8278c7da",
    "MUSICBRAINZ_ALBUMARTISTID=9c9f1380-2516-4fc9-a3e6-f9f61941d090",
    "MUSICBRAINZ_RELEASEGROUPID=4c8f2f7e-1b3a-4d0f-8a1e-0c2b3d4e5f60",
    "MUSICBRAINZ_DISCID=lwHl8fGzJyLXQR33ug60E8jhf4k-",
    "MUSICBRAINZ_TRACKID=6f0c7a8e-3d1b-4b56-9c1e-2a3b4c5d6e7f",
    "MUSICBRAINZ_RELEASETRACKID=7a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d",
    "MUSICBRAINZ_ARTISTID=5b11f4ce-a62d-471e-81fc-a69a8278c7da",
};

void ExpectComments(const std::string& listing) {
  const std::vector<std::string> lines = Lines(listing);
  for (const std::string& c : kReleaseComments)
    EXPECT_EQ(std::count(lines.begin(), lines.end(), c), 1) << c << "\n" << listing;
  // The year alone gives way to the release date.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "DATE=1988"), 0) << listing;
}

class ReleaseTagsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wav_ = dir_.File("src.wav");
    test::WriteWav(wav_, test::Tone(44100 / 4, 2), CdAudioFormat);
  }
  // Encodes the track into a file of the kind; "" when that cannot be done here.
  std::string Encode(OutputKind kind, const char* name, const TrackTags& tag,
                     const FormatOptions& options = {}) {
    SettingsRecord s = Defaults(static_cast<int>(kind));
    ScriptedDialogs dialogs;
    EncoderSet enc(s, dialogs);
    if (!enc.Available(kind)) return {};
    const std::string out = dir_.File(name);
    const WriteResult r = enc.ConvertFile(wav_, out, tag, kind, options);
    EXPECT_TRUE(r.Ok()) << r.message;
    return out;
  }
  test::TempDir dir_;
  std::string wav_;
};

TEST_F(ReleaseTagsTest, FlacCarriesTheReleaseUnderPicardsNames) {
  if (!Have("metaflac")) GTEST_SKIP() << "metaflac is not installed (Debian package flac)";
  FormatOptions options;
  options.disc.AlbumArtist = "Сборник";  // the release's album artist wins
  const std::string out = Encode(OutputKind::Flac, "t.flac", ReleaseTrack(), options);
  if (out.empty()) GTEST_SKIP() << kFlacLibraryName << " cannot be loaded";
  const std::string tags = test::Run("metaflac --export-tags-to=- " + test::Quote(out));
  ExpectComments(tags);
  EXPECT_EQ(tags.find("ALBUMARTIST=Сборник\n"), std::string::npos) << tags;
}

TEST_F(ReleaseTagsTest, OggVorbisCarriesTheReleaseUnderPicardsNames) {
  if (!Have("vorbiscomment")) GTEST_SKIP() << "vorbiscomment is not installed (vorbis-tools)";
  const std::string out = Encode(OutputKind::Ogg, "t.ogg", ReleaseTrack());
  if (out.empty()) GTEST_SKIP() << "the Vorbis libraries cannot be loaded";
  ExpectComments(test::Run("vorbiscomment -l " + test::Quote(out)));
}

TEST_F(ReleaseTagsTest, Mp3CarriesTheReleaseInId3Frames) {
  if (!Have("mutagen-inspect")) GTEST_SKIP() << "mutagen-inspect is not installed (python3-mutagen)";
  const std::string out = Encode(OutputKind::Mp3, "t.mp3", ReleaseTrack());
  if (out.empty()) GTEST_SKIP() << "libmp3lame.so.0 is missing";
  const std::string m = test::Run("mutagen-inspect " + test::Quote(out));
  const std::vector<std::string> lines = Lines(m);
  auto has = [&](const std::string& line) {
    EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line << "\n" << m;
  };
  has("TPE2=Кино и друзья");
  // mutagen reads the 2.3 frames as their 2.4 successors: TYER + TDAT is
  // the full date, TORY the original year.
  has("TDRC=1988-01-05");
  has("TDOR=1987");
  has("TPOS=1/2");
  has("TPUB=Мелодия/Moroz Records");
  has("TMED=CD");
  has("TSRC=SUA018800002/SUA018800102");
  has("TXXX=MusicBrainz Album Id=0a2e4e8f-7a3c-4b8b-9a39-2e6f1b6f2d11");
  has("TXXX=MusicBrainz Artist Id=5b11f4ce-a62d-471e-81fc-a69a8278c7da");
  has("TXXX=MusicBrainz Album Artist Id=5b11f4ce-a62d-471e-81fc-a69a8278c7da/"
      "9c9f1380-2516-4fc9-a3e6-f9f61941d090");
  has("TXXX=MusicBrainz Release Group Id=4c8f2f7e-1b3a-4d0f-8a1e-0c2b3d4e5f60");
  has("TXXX=MusicBrainz Release Track Id=7a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
  has("TXXX=MusicBrainz Disc Id=lwHl8fGzJyLXQR33ug60E8jhf4k-");
  has("TXXX=MusicBrainz Album Release Country=SU");
  has("TXXX=CATALOGNUMBER=C60 27403 009");
  has("TXXX=BARCODE=4600317003323");
  has("UFID=http://musicbrainz.org=b'6f0c7a8e-3d1b-4b56-9c1e-2a3b4c5d6e7f'");
  // The twelve frames of the record are still there, as before.
  has("TIT2=Вторая песня");
  has("TRCK=2");
}

TEST_F(ReleaseTagsTest, WmaCarriesTheReleaseAsAttributes) {
  // mutagen lists every attribute under its stored name.
  if (!Have("mutagen-inspect")) GTEST_SKIP() << "mutagen-inspect is not installed (python3-mutagen)";
  const std::string out = Encode(OutputKind::Wma, "t.wma", ReleaseTrack());
  if (out.empty()) GTEST_SKIP() << "FFmpeg has no wmav2 encoder or ASF muxer";
  const std::string m = test::Run("mutagen-inspect " + test::Quote(out));
  const std::vector<std::string> lines = Lines(m);
  auto has = [&](const std::string& line) {
    EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line << "\n" << m;
  };
  has("WM/AlbumArtist=Кино и друзья");
  has("WM/PartOfSet=1/2");
  // FFmpeg's muxer keeps one attribute of a name: several values are one.
  has("WM/Publisher=Мелодия; Moroz Records");
  has("WM/CatalogNo=C60 27403 009");
  has("WM/Barcode=4600317003323");
  has("WM/ISRC=SUA018800002; SUA018800102");
  has("WM/OriginalReleaseYear=1987");
  has("MusicBrainz/Album Id=0a2e4e8f-7a3c-4b8b-9a39-2e6f1b6f2d11");
  has("MusicBrainz/Album Artist Id=5b11f4ce-a62d-471e-81fc-a69a8278c7da; "
      "9c9f1380-2516-4fc9-a3e6-f9f61941d090");
  has("MusicBrainz/Track Id=6f0c7a8e-3d1b-4b56-9c1e-2a3b4c5d6e7f");
  has("MusicBrainz/Release Track Id=7a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
  has("MusicBrainz/Artist Id=5b11f4ce-a62d-471e-81fc-a69a8278c7da");
  has("MusicBrainz/Release Group Id=4c8f2f7e-1b3a-4d0f-8a1e-0c2b3d4e5f60");
  has("MusicBrainz/Disc Id=lwHl8fGzJyLXQR33ug60E8jhf4k-");
  has("MusicBrainz/Album Release Country=SU");
}

TEST(ReleaseTagsMappingTest, WithoutReleaseKeysTheTagsStayAsTheyWere) {
  TrackTags t = ReleaseTrack();
  TrackTags plain(t.Record);
  // Only the keys that have a text are written: a track without a lookup
  // has the exact tag of its record, and empty keys add nothing.
  for (const char* k : kAlbumInfoKeys) plain.Texts.Put(k, "");
  for (const char* k : kTrackInfoKeys) plain.Texts.Put(k, "");
  EXPECT_EQ(BuildId3v2(plain), BuildId3v2(t.Record));
  EXPECT_EQ(VorbisCommentsFor(plain), VorbisCommentsFor(t.Record));
  EXPECT_EQ(FlacCommentsFor(plain, {}), FlacCommentsFor(TrackTags(t.Record), {}));
  EXPECT_EQ(WmaAttributesFor(plain), WmaAttributesFor(&t.Record));
  // A disc number without a count is the number alone.
  TrackTags one(t.Record);
  one.Texts.Put("DiscNumber", "3");
  EXPECT_EQ(DiscNumberText(one), "3");
  EXPECT_EQ(SplitInfoValues("a; b;c; "), (std::vector<std::string>{"a", "b;c"}));
}

// The first picture of a file as mutagen reads it: "type mime width height
// depth" (an APIC frame has no size: 0 0 0), its image written to imageOut.
// "" when mutagen cannot be run.
std::string PictureOf(const std::string& path, const std::string& imageOut) {
  static const char* kScript = R"(
import sys, base64, mutagen
from mutagen.flac import Picture
f = mutagen.File(sys.argv[1])
pics = list(getattr(f, 'pictures', []) or [])
if not pics and f.tags is not None and hasattr(f.tags, 'getall'):
    for a in f.tags.getall('APIC'):
        print(int(a.type), a.mime, 0, 0, 0)
        open(sys.argv[2], 'wb').write(a.data)
        sys.exit(0)
if not pics and f.tags is not None:
    pics = [Picture(base64.b64decode(v)) for v in f.tags.get('metadata_block_picture', [])]
if not pics:
    print('none')
    sys.exit(0)
p = pics[0]
print(int(p.type), p.mime, p.width, p.height, p.depth)
open(sys.argv[2], 'wb').write(p.data)
)";
  int rc = -1;
  const std::string out = test::Run("/usr/bin/python3 -c " + test::Quote(kScript) + " " +
                                        test::Quote(path) + " " + test::Quote(imageOut) + " 2>&1",
                                    &rc);
  return rc == 0 ? out : std::string();
}

std::shared_ptr<const CoverImage> Cover(const char* name) {
  const auto bytes = test::ReadAll(std::string(SONARVEX_SOURCE_DIR) + "/tests/data/cover/" + name);
  auto image = std::make_shared<CoverImage>();
  EXPECT_TRUE(ReadCoverImage(bytes, *image)) << name;
  return image;
}

TEST_F(ReleaseTagsTest, TheFrontCoverIsEmbeddedInFlacOggAndMp3) {
  int rc = -1;
  test::Run("/usr/bin/python3 -c 'import mutagen' 2>/dev/null", &rc);
  if (rc != 0) GTEST_SKIP() << "mutagen is not installed (python3-mutagen)";
  struct Case {
    OutputKind kind;
    const char* file;
    const char* picture;
    const char* expected;
  };
  const Case cases[] = {
      {OutputKind::Flac, "c.flac", "small.jpg", "3 image/jpeg 40 30 24\n"},
      {OutputKind::Ogg, "c.ogg", "small.png", "3 image/png 40 30 24\n"},
      {OutputKind::Mp3, "c.mp3", "small.jpg", "3 image/jpeg 0 0 0\n"},
  };
  int checked = 0;
  for (const Case& c : cases) {
    FormatOptions options;
    options.cover = Cover(c.picture);
    const std::string out = Encode(c.kind, c.file, ReleaseTrack(), options);
    if (out.empty()) continue;  // that format's library is missing here
    ++checked;
    const std::string image = dir_.File(std::string(c.file) + ".image");
    EXPECT_EQ(PictureOf(out, image), c.expected) << c.file;
    EXPECT_EQ(test::ReadAll(image), options.cover->bytes) << c.file;
    // The tags are all still there beside it.
    if (c.kind != OutputKind::Mp3) {
      EXPECT_NE(test::Run("vorbiscomment -l " + test::Quote(out) + " 2>/dev/null; metaflac "
                          "--export-tags-to=- " + test::Quote(out) + " 2>/dev/null")
                    .find("MUSICBRAINZ_ALBUMID="),
                std::string::npos)
          << c.file;
    }
    // Tags off: no picture either.
    TrackTags off = ReleaseTrack();
    off.Record.TagsOn = 0;
    const std::string bare = Encode(c.kind, (std::string("bare-") + c.file).c_str(), off, options);
    EXPECT_EQ(PictureOf(bare, image), "none\n") << c.file;
  }
  if (checked == 0) GTEST_SKIP() << "none of the FLAC, Vorbis and LAME libraries is here";
}

TEST(ReleaseTagsMappingTest, ThePictureBlockAndItsBase64) {
  CoverImage c;
  c.mime = "image/png";
  c.width = 2;
  c.height = 1;
  c.depth = 32;
  c.bytes = {0xAB, 0xCD};
  const std::vector<unsigned char> block = FlacPictureBlock(c);
  const std::vector<unsigned char> expected = {
      0, 0, 0, 3, 0, 0, 0, 9, 'i', 'm', 'a', 'g', 'e', '/', 'p', 'n', 'g', 0, 0, 0, 0,
      0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 32, 0, 0, 0, 0, 0, 0, 0, 2, 0xAB, 0xCD};
  EXPECT_EQ(block, expected);
  EXPECT_EQ(Base64({'M', 'a', 'n'}), "TWFu");
  EXPECT_EQ(Base64({'M', 'a'}), "TWE=");
  EXPECT_EQ(Base64({'M'}), "TQ==");
  EXPECT_EQ(Base64({}), "");
  // Without a picture the tag is the one of before.
  const TrackTags t = ReleaseTrack();
  EXPECT_EQ(BuildId3v2(t, nullptr), BuildId3v2(t));
  EXPECT_EQ(VorbisCommentsFor(t, nullptr), VorbisCommentsFor(t));
}

}  // namespace
}  // namespace sonarvex
