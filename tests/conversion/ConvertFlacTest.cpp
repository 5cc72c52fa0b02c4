// FLAC files as sources of the batch: into WAV, MP3, Ogg Vorbis, WMA and
// Opus with their audio and their tags (and cover), several at once, bad
// files failing alone with a message naming them, nothing left under an
// output name by a failure or a stop, a file at an output name kept unless
// the user says otherwise.
#include <gtest/gtest.h>

#include <filesystem>

#include "codec/FlacReader.h"
#include "codec/WavFile.h"
#include "conversion/FlacSource.h"
#include "platform/Files.h"
#include "tests/codec/SignalCompare.h"
#include "tests/conversion/BatchTest.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;

std::string Probe(const std::string& path) {
  return test::Run("ffprobe -v error -show_format -show_streams " + test::Quote(path));
}

// A tag as ffprobe shows it: in either letter case.
std::string ProbeTag(const std::string& probe, const std::string& lower) {
  std::string upper = lower;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string a = test::ProbeValue(probe, "TAG:" + lower);
  return a.empty() ? test::ProbeValue(probe, "TAG:" + upper) : a;
}

long Frames(const std::vector<std::int16_t>& pcm) { return static_cast<long>(pcm.size()) / 2; }

constexpr const char* kTags =
    "-T \"TITLE=Песня 東京\" -T ARTIST=Кино -T ALBUM=Группа -T DATE=1988-01-05 -T GENRE=Rock "
    "-T TRACKNUMBER=7 -T COMMENT=Тест -T ALBUMARTIST=Цой";

class FlacBatchTest : public test::BatchTest {
 protected:
  FlacBatchTest() : BatchTest(false) {}
  void SetUp() override {
    BatchTest::SetUp();
    if (IsSkipped()) return;
    if (!test::ToolPresent("flac")) GTEST_SKIP() << "flac is not installed";
    if (!FlacReader().Available()) GTEST_SKIP() << kFlacLibraryName << " cannot be loaded";
  }
  void ExpectNoPartials(const std::string& folder) {
    if (!fs::exists(folder)) return;
    for (const auto& e : fs::recursive_directory_iterator(folder))
      EXPECT_NE(e.path().extension(), ".part") << e.path();
  }
};

TEST_F(FlacBatchTest, ReadsTheTagsAndTheCoverOfAFlacFile) {
  test::MakePng(S("cover.png"));
  test::MakeFlac(S("t.flac"), 0.3, std::string(kTags) + " --picture=\"3||||" + S("cover.png") + "\"");
  TrackTags tags;
  CoverImage cover;
  ASSERT_TRUE(ReadFlacTags(S("t.flac"), &tags, &cover));
  EXPECT_TRUE(tags.On());
  EXPECT_EQ(tags.Get(TagField::Title), "Песня 東京");
  EXPECT_EQ(tags.Get(TagField::Artist), "Кино");
  EXPECT_EQ(tags.Get(TagField::Album), "Группа");
  EXPECT_EQ(tags.Get(TagField::Year), "1988");
  EXPECT_EQ(tags.Info("Date"), "1988-01-05");
  EXPECT_EQ(tags.Get(TagField::Genre), "Rock");
  EXPECT_EQ(tags.Get(TagField::TrackNumber), "7");
  EXPECT_EQ(tags.Get(TagField::Comment), "Тест");
  EXPECT_EQ(tags.Info("AlbumArtist"), "Цой");
  EXPECT_EQ(cover.mime, "image/png");
  EXPECT_EQ(cover.width, 16u);
  EXPECT_EQ(cover.bytes, test::ReadAll(S("cover.png")));
  // Without tags: nothing on; not FLAC at all: false.
  test::MakeFlac(S("bare.flac"), 0.2);
  TrackTags none;
  EXPECT_TRUE(ReadFlacTags(S("bare.flac"), &none, nullptr));
  EXPECT_FALSE(none.On());
  test::MakeWav(S("x.wav"), 0.1);
  EXPECT_FALSE(ReadFlacTags(S("x.wav"), &none, nullptr));
}

TEST_F(FlacBatchTest, IntoWavMp3AndOggWithTheAudioAndTheTags) {
  test::MakePng(S("cover.png"));
  const auto tone =
      test::MakeFlac(S("t.flac"), 2.0, std::string(kTags) + " --picture=\"3||||" + S("cover.png") + "\"");
  std::vector<int> directions{kFlacToWav, kFlacToMp3, kFlacToOgg};
  if (E().DirectionAvailable(kFlacToWma)) directions.push_back(kFlacToWma);
  if (E().DirectionAvailable(kFlacToOpus)) directions.push_back(kFlacToOpus);
  for (int direction : directions) {
    E().RemoveAll();
    E().SetDirection(direction);
    ASSERT_EQ(E().Direction(), direction);
    E().AddFile(S("t.flac"));
    ASSERT_EQ(E().Rows().size(), 1u);
    rig_.host.failed.clear();
    E().Run();
    EXPECT_TRUE(rig_.dialogs.Clean());
    ASSERT_EQ(E().Rows()[0].state, "Готово") << direction << " "
                                             << (rig_.host.failed.empty() ? "" : rig_.host.failed[0].second);
    const std::string out = E().OutputPath(0);
    ASSERT_TRUE(FileExists(out)) << out;
    // Opus decodes at 48 kHz unless told.
    const auto mine = test::DecodeWithFfmpeg(out, "-ar 44100");
    if (direction == kFlacToWav) {
      // Lossless: the very samples.
      EXPECT_EQ(mine, tone);
      continue;
    }
    EXPECT_LE(std::labs(Frames(mine) - Frames(tone)), 4096) << direction;
    EXPECT_GT(test::BestSnrDb(tone, mine, 2, 4096), 15.0) << direction;
    const std::string probe = Probe(out);
    EXPECT_EQ(ProbeTag(probe, "title"), "Песня 東京") << direction;
    EXPECT_EQ(ProbeTag(probe, "artist"), "Кино") << direction;
    EXPECT_EQ(ProbeTag(probe, "album"), "Группа") << direction;
    EXPECT_EQ(ProbeTag(probe, "genre"), "Rock") << direction;
    EXPECT_NE(ProbeTag(probe, "track").empty() ? ProbeTag(probe, "tracknumber") : ProbeTag(probe, "track"),
              "")
        << direction;
    EXPECT_EQ(ProbeTag(probe, "date").substr(0, 4), "1988") << direction << "\n" << probe;
    if (direction == kFlacToMp3) {
      EXPECT_NE(probe.find("codec_name=png"), std::string::npos) << "the cover as APIC\n" << probe;
    }
  }
  EXPECT_TRUE(FileExists(S("t.flac")));
  ExpectNoPartials(out_);
}

TEST_F(FlacBatchTest, SeveralFilesAtOnceAndBadFilesFailAloneNamingTheFile) {
  rig_.settings.DecodeFilesAtOnce = 3;
  for (const char* n : {"a.flac", "b.flac", "c.flac", "d.flac"}) test::MakeFlac(S(n), 1.0, "-T TITLE=x");
  test::WriteAll(S("fake.flac"), std::vector<std::uint8_t>(5000, 0x42));
  test::MakeFlac(S("r48.flac"), 0.5, "", 48000);
  // A file whose audio is damaged after its header: bytes in the middle flipped.
  test::MakeFlac(S("bad.flac"), 1.0);
  auto bytes = test::ReadAll(S("bad.flac"));
  for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 400; ++i) bytes[i] ^= 0x5A;
  test::WriteAll(S("bad.flac"), bytes);
  E().SetDirection(kFlacToMp3);
  for (const char* n : {"a.flac", "fake.flac", "b.flac", "r48.flac", "c.flac", "bad.flac", "d.flac"})
    E().AddFile(S(n));
  ASSERT_EQ(E().Rows().size(), 7u);
  E().Run();
  EXPECT_GE(E().FlacJobsAtOnceSeen(), 2) << "files are encoded at once";
  EXPECT_LE(E().FlacJobsAtOnceSeen(), 3);
  const auto& rows = E().Rows();
  for (int i : {0, 2, 4, 6}) {
    EXPECT_EQ(rows[static_cast<std::size_t>(i)].state, "Готово") << rows[static_cast<std::size_t>(i)].name;
    EXPECT_GT(test::MeasureTone(E().OutputPath(i)).seconds, 0.9);
  }
  EXPECT_EQ(rows[1].state, "ошибка чтения");
  EXPECT_EQ(rows[3].state, "ошибка чтения");
  EXPECT_EQ(rows[5].state, "ошибка декодирования");
  ASSERT_EQ(rig_.host.failed.size(), 3u);
  for (const auto& [source, why] : rig_.host.failed) {
    EXPECT_NE(why.find("'" + source + "'"), std::string::npos) << why;
    EXPECT_FALSE(FileExists(O(fs::path(source).stem().string() + ".mp3"))) << source;
  }
  EXPECT_NE(rig_.host.failed[1].second.find("48000"), std::string::npos) << rig_.host.failed[1].second;
  EXPECT_EQ(rig_.host.done.size(), 4u);
  ExpectNoPartials(out_);
  EXPECT_TRUE(E().TemporaryOutputs().empty());
}

// The window's caption names each file as the batch takes it, with its
// place in the batch, as the one-at-a-time batches do, and the window shows
// its row; at the end the caption is the plain one again.
TEST_F(FlacBatchTest, TheCaptionNamesEachFileAsItIsTaken) {
  rig_.settings.DecodeFilesAtOnce = 2;
  for (const char* n : {"a.flac", "b.flac", "c.flac"}) test::MakeFlac(S(n), 0.5);
  E().SetDirection(kFlacToWav);
  for (const char* n : {"a.flac", "b.flac", "c.flac"}) E().AddFile(S(n));
  E().SetChecked(1, false);
  E().Run();
  EXPECT_EQ(rig_.host.captions,
            (std::vector<std::string>{"Конвертирование файлов - [a.flac] - 1/2",
                                      "Конвертирование файлов - [c.flac] - 2/2", "Конвертирование файлов"}));
  EXPECT_EQ(rig_.host.current, (std::vector<int>{0, 2}));
  EXPECT_EQ(E().Caption(), "Конвертирование файлов");
  EXPECT_EQ(E().Rows()[2].state, "Готово");
}

TEST_F(FlacBatchTest, AFileAtTheOutputNameIsKeptUnlessTheUserSaysSoAndAStopLeavesNothing) {
  test::MakeFlac(S("a.flac"), 1.0);
  test::MakeFlac(S("b.flac"), 1.0);
  fs::create_directories(out_);
  test::WriteAll(O("a.wav"), {1, 2, 3});
  E().SetDirection(kFlacToWav);
  E().AddFile(S("a.flac"));
  E().AddFile(S("b.flac"));
  rig_.dialogs.ExpectMessage(ReplaceQuestionText(O("a.wav")), kProgramTitle, MsgIcon::Question,
                             MsgButtons::YesYesAllNo, IdNo);
  E().Run();
  EXPECT_TRUE(rig_.dialogs.Clean());
  EXPECT_EQ(test::ReadAll(O("a.wav")), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(E().Rows()[0].state, kStateSkipped);
  EXPECT_EQ(E().Rows()[1].state, "Готово");
  // Yes: replaced by the whole file.
  rig_.dialogs.ExpectMessage(ReplaceQuestionText(O("a.wav")), kProgramTitle, MsgIcon::Question,
                             MsgButtons::YesYesAllNo, IdYes);
  E().Run();
  EXPECT_TRUE(rig_.dialogs.Clean());
  EXPECT_EQ(E().Rows()[0].state, "Готово");
  EXPECT_EQ(fs::file_size(O("a.wav")), kWavHeaderSize + 44100u * 4u);

  // A stop while the files are written: no output, no partial file.
  E().RemoveAll();
  E().SetDirection(kFlacToMp3);
  test::MakeFlac(S("long.flac"), 20.0);
  E().AddFile(S("long.flac"));
  int pumps = 0;
  rig_.host.onPump = [&] {
    if (++pumps == 3) E().RequestCancel();
  };
  E().Run();
  rig_.host.onPump = nullptr;
  EXPECT_EQ(E().Rows()[0].state, kStateStopped);
  EXPECT_FALSE(FileExists(O("long.mp3")));
  ExpectNoPartials(out_);
}

TEST_F(FlacBatchTest, TheRowTagStartsFromTheFilesTagsAndGoesIntoTheOutput) {
  test::MakeFlac(S("t.flac"), 1.0, "-T TITLE=Old -T ARTIST=Someone");
  test::MakeFlac(S("bare.flac"), 1.0);
  E().SetDirection(kFlacToOgg);
  E().AddFile(S("t.flac"));
  E().AddFile(S("bare.flac"));
  EXPECT_TRUE(E().TagsApply());
  TrackTags* tag = E().RowTag(0);
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(tag->Get(TagField::Title), "Old");
  EXPECT_EQ(tag->Get(TagField::Artist), "Someone");
  tag->Set(TagField::Title, "New");
  EXPECT_EQ(E().RowTag(1)->Get(TagField::Title), "bare.flac");
  // "Удалять исходные файлы после кодирования": a source goes once its
  // output is complete.
  E().deleteSources = true;
  E().SetChecked(1, false);
  E().Run();
  const std::string probe = Probe(E().OutputPath(0));
  EXPECT_EQ(ProbeTag(probe, "title"), "New");
  EXPECT_EQ(ProbeTag(probe, "artist"), "Someone");
  EXPECT_FALSE(FileExists(S("t.flac")));
  EXPECT_TRUE(FileExists(S("bare.flac")));
  E().SetDirection(kFlacToWav);
  EXPECT_FALSE(E().TagsApply());
}

TEST_F(FlacBatchTest, WithoutTheFlacLibraryTheFlacDirectionsAreNotOffered) {
  rig_.context.flacDecoderAvailable = false;
  ConvertEngine e(rig_.context);
  ASSERT_TRUE(e.Create());
  for (int d = kFlacToWav; d <= kFlacToOpus; ++d) EXPECT_FALSE(e.DirectionAvailable(d)) << d;
  e.SetDirection(kFlacToMp3);
  EXPECT_NE(e.Direction(), kFlacToMp3);
  EXPECT_TRUE(E().DirectionAvailable(kFlacToMp3));
  e.Close();
}

}  // namespace
}  // namespace sonarvex
