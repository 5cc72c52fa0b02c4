// What a recording puts on the disc beyond its audio: the catalogue number
// and ISRCs in the cue sheet (ADR 2 and 3 entries), the titles as CD-Text
// in the lead-in (data form 41h, 96-byte R-W blocks from the lead-in's
// start), and the software recorder's image carrying all of them back.
#include <gtest/gtest.h>

#include <atomic>

#include "drive/CdText.h"
#include "drive/virtual/CueImage.h"
#include "drive/virtual/VirtualRecorder.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "recording/Recorder.h"
#include "tests/recording/RecordingRig.h"

namespace sonarvex {
namespace {

using test::RecordingRig;

std::vector<std::vector<std::uint8_t>> Writes(VirtualDrive& d) {
  std::vector<std::vector<std::uint8_t>> w;
  for (auto& b : d.CommandLog())
    if (b[0] == 0x2A) w.push_back(b);
  return w;
}
std::int32_t Lba(const std::vector<std::uint8_t>& b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(b[2]) << 24 | b[3] << 16 | b[4] << 8 | b[5]);
}
int Count(const std::vector<std::uint8_t>& b) { return b[7] << 8 | b[8]; }

// A recorder (which may be told it cannot write CD-Text) and the recording
// layer on it.
struct CodesRig {
  explicit CodesRig(bool cdTextWriter = true) {
    if (!cdTextWriter) {
      VirtualDriveConfig config;
      config.capabilities = VirtualDriveConfig::DefaultCapabilities(true);
      config.capabilities[5] = static_cast<std::uint8_t>(config.capabilities[5] & ~0x04);
      config.simulateWriteTime = false;
      rig.recorder->SetConfig(config);
    }
    rec.Create();
    selected = rec.SelectDevice(rig.RecorderDevice());
    a = test::WriteCdWav(rig.dir.File("a.wav"), test::PatternAudio(1, 100 * 2352));
    b = test::WriteCdWav(rig.dir.File("b.wav"), test::PatternAudio(2, 60 * 2352));
  }
  // Writes the two files as the recording thread does.
  void Burn() {
    ASSERT_TRUE(rec.SetFiles({a, b}));
    ASSERT_TRUE(rec.InitWriteProcess(false, nullptr));
    ASSERT_TRUE(rec.SendCUEToCD());
    std::atomic<bool> cancel{false};
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(rec.WriteTrack(i, 26, cancel)) << rec.FailureText();
    ASSERT_TRUE(rec.CloseSession()) << rec.FailureText();
  }
  std::string Image() {
    auto text = ReadFileBytes(rig.cue);
    return text ? *text : std::string("(no image)");
  }
  RecordingRig rig{false, true};
  ScriptedDialogs dialogs;
  Recorder rec{rig.spti, rig.aspi, dialogs};
  bool selected = false;
  std::string a, b;
};

DiscTexts Pixies() {
  DiscTexts t;
  t.catalog = "0724384960650";
  t.title = "Surfer Rosa";
  t.performer = "Pixies";
  t.tracks = {{"Bone Machine", "", "USAB18800001"}, {"Café Noir", "Pixies & Friends", ""}};
  return t;
}

TEST(RecorderCodes, CatalogueIsrcsAndCdTextReachTheCueSheetTheLeadInAndTheDisc) {
  CodesRig r;
  ASSERT_TRUE(r.selected);
  ASSERT_TRUE(r.rec.CurrentDrive()->CanWriteCdText());
  r.rec.SetDiscTexts(Pixies());
  r.Burn();
  const std::vector<std::uint8_t> expected = {
      0x01, 0x00, 0x00, 0x41, 0x00, 0x00, 0x00, 0x00,  // lead-in with CD-Text in its R-W sub-channel
      0x02, '0', '7', '2', '4', '3', '8', '4',         // catalogue number, first 7 digits
      0x02, '9', '6', '0', '6', '5', '0', 0x00,        // and the last 6
      0x03, 0x01, 'U', 'S', 'A', 'B', '1', '8',        // track 1's ISRC
      0x03, 0x01, '8', '0', '0', '0', '0', '1',
      0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // track 1, INDEX 00 at 00:00:00
      0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00,  // INDEX 01 at 00:02:00
      0x01, 0x02, 0x01, 0x00, 0x00, 0x00, 0x03, 0x19,  // track 2 at LBA 100
      0x01, 0xAA, 0x01, 0x01, 0x00, 0x00, 0x04, 0x0A};  // lead-out at LBA 160
  EXPECT_EQ(r.rec.CueSheet(), expected);
  EXPECT_TRUE(r.dialogs.Clean());

  // The lead-in is written first, from where the blank says it starts, in
  // blocks of 96 bytes, up to track 1's pregap.
  const auto writes = Writes(*r.rig.recorder);
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(Lba(writes.front()), kBlankLeadInStartLba);
  EXPECT_EQ(r.rec.LeadInStart(), kBlankLeadInStartLba);
  std::int32_t next = kBlankLeadInStartLba;
  std::size_t w = 0;
  for (; w < writes.size() && Lba(writes[w]) < -150; ++w) {
    EXPECT_EQ(Lba(writes[w]), next);
    next += Count(writes[w]);
  }
  EXPECT_EQ(next, -150);
  ASSERT_LT(w, writes.size());
  EXPECT_EQ(Lba(writes[w]), -150);

  // The image carries the codes and texts, and the drive over it answers
  // them back: CD-Text from the lead-in, the catalogue number, the ISRC.
  const std::string image = r.Image();
  EXPECT_NE(image.find("CATALOG 0724384960650\nPERFORMER \"Pixies\"\nTITLE \"Surfer Rosa\"\n"), std::string::npos)
      << image;
  EXPECT_NE(image.find("  TRACK 01 AUDIO\n    TITLE \"Bone Machine\"\n    ISRC USAB18800001\n"), std::string::npos)
      << image;
  EXPECT_NE(image.find("  TRACK 02 AUDIO\n    TITLE \"Café Noir\"\n    PERFORMER \"Pixies & Friends\"\n"),
            std::string::npos)
      << image;
  const auto text = ReadCdText(r.rec.CurrentTransport());
  ASSERT_TRUE(text);
  EXPECT_EQ(text->title, "Surfer Rosa");
  EXPECT_EQ(text->performer, "Pixies");
  ASSERT_TRUE(text->Track(2));
  EXPECT_EQ(text->Track(2)->title, "Café Noir");
  EXPECT_EQ(text->Track(2)->performer, "Pixies & Friends");
  std::string error;
  const auto disc = LoadCueImage(r.rig.cue, &error);
  ASSERT_TRUE(disc) << error;
  EXPECT_EQ(disc->catalog, "0724384960650");
  ASSERT_EQ(disc->tracks.size(), 2u);
  EXPECT_EQ(disc->tracks[0].isrc, "USAB18800001");
  EXPECT_EQ(disc->tracks[1].isrc, "");
  EXPECT_EQ(disc->tracks[1].startLba, 100);
}

// The lead-in with CD-Text takes some seconds on a real drive: the status
// line says what is written, and the progress routine follows it from the
// lead-in's start to track 1's pregap (LBAs below 0) before the track's own.
TEST(RecorderCodes, TheCdTextLeadInIsSaidAndItsProgressReported) {
  CodesRig r;
  ASSERT_TRUE(r.selected);
  r.rec.SetDiscTexts(Pixies());
  std::vector<std::string> statuses;
  r.rec.SetStatusCallback([&](const std::string& text) {
    statuses.push_back(text);
    return std::string("Трек 1");
  });
  struct Call {
    std::int32_t current, start, end;
  };
  std::vector<Call> calls;
  ASSERT_TRUE(r.rec.SetFiles({r.a}));
  ASSERT_TRUE(r.rec.InitWriteProcess(
      false, [&](std::int32_t c, std::int32_t s, int, std::int32_t e) { calls.push_back({c, s, e}); }));
  ASSERT_TRUE(r.rec.SendCUEToCD());
  std::atomic<bool> cancel{false};
  ASSERT_TRUE(r.rec.WriteTrack(0, 26, cancel)) << r.rec.FailureText();
  EXPECT_EQ(statuses, (std::vector<std::string>{"Запись вводной области (CD-Text)…", "Трек 1"}));
  // The lead-in's calls: from its start, rising, to -150; then the track's.
  std::size_t k = 0;
  for (; k < calls.size() && calls[k].end == -150; ++k) {
    EXPECT_EQ(calls[k].start, kBlankLeadInStartLba);
    if (k > 0) {
      EXPECT_GT(calls[k].current, calls[k - 1].current);
    }
  }
  ASSERT_GE(k, 3u) << "the lead-in's progress is reported as it is written";
  EXPECT_EQ(calls.front().current, kBlankLeadInStartLba);
  EXPECT_EQ(calls[k - 1].current, -150);
  ASSERT_LT(k, calls.size());
  EXPECT_EQ(calls[k].start, 0);
  EXPECT_EQ(calls[k].end, 100);
  ASSERT_TRUE(r.rec.CloseSession()) << r.rec.FailureText();

}

TEST(RecorderCodes, TextsCdTextCannotHoldAreLeftOutAndSaid) {
  CodesRig r;
  DiscTexts t;
  t.title = "Группа крови";
  t.performer = "Кино";
  t.tracks = {{"Blood Type", "Кино", ""}, {"", "", ""}};
  r.rec.SetDiscTexts(t);
  r.dialogs.ExpectMessage(
      "CD-Text записывается только буквами латиницы (ISO 8859-1); эти названия на диск не записаны: "
      "«Группа крови», «Кино».",
      "Sonarvex", MsgIcon::Information, MsgButtons::Ok);
  r.Burn();
  std::string why;
  EXPECT_TRUE(r.dialogs.Clean(&why)) << why;
  const std::string image = r.Image();
  EXPECT_EQ(image.find("Кино"), std::string::npos) << image;
  EXPECT_EQ(image.find("?"), std::string::npos) << image;
  EXPECT_NE(image.find("  TRACK 01 AUDIO\n    TITLE \"Blood Type\"\n"), std::string::npos) << image;
  EXPECT_TRUE(Recorder::FitsCdText("Ångström ÿ"));
  EXPECT_FALSE(Recorder::FitsCdText("Œuvre"));  // U+0152 is not in ISO 8859-1
  EXPECT_FALSE(Recorder::FitsCdText("tab\there"));
}

TEST(RecorderCodes, ADriveWithoutCdTextWritesTheDiscWithoutItAndSaysSo) {
  CodesRig r(false);
  ASSERT_TRUE(r.selected);
  EXPECT_FALSE(r.rec.CurrentDrive()->CanWriteCdText());
  r.rec.SetDiscTexts(Pixies());
  r.dialogs.ExpectMessage("Привод не умеет записывать CD-Text: диск будет записан без названий альбома и дорожек.",
                          "Sonarvex", MsgIcon::Information, MsgButtons::Ok);
  r.Burn();
  std::string why;
  EXPECT_TRUE(r.dialogs.Clean(&why)) << why;
  EXPECT_EQ(r.rec.CueSheet()[3], 0x01);  // a lead-in the drive makes itself
  EXPECT_TRUE(r.rec.CdTextPacks().empty());
  EXPECT_GE(Lba(Writes(*r.rig.recorder).front()), -150);
  // The codes are still written: every recorder takes them.
  const std::string image = r.Image();
  EXPECT_NE(image.find("CATALOG 0724384960650\nFILE"), std::string::npos) << image;
  EXPECT_NE(image.find("ISRC USAB18800001"), std::string::npos) << image;
  EXPECT_EQ(image.find("TITLE"), std::string::npos) << image;
}

TEST(RecorderCodes, MalformedCodesAreNotWritten) {
  CodesRig r;
  DiscTexts t;
  t.catalog = "07243849606";  // too short
  t.tracks = {{"", "", "usab18800001"}, {"", "", "USAB1880000X"}};
  r.rec.SetDiscTexts(t);
  r.Burn();
  EXPECT_EQ(r.rec.CueSheet().size(), 5u * 8);
  EXPECT_EQ(r.Image().find("CATALOG"), std::string::npos);
  EXPECT_EQ(r.Image().find("ISRC"), std::string::npos);
}

// Zeros only, as rippers write "none", are no code either.
TEST(RecorderCodes, CodesOfZerosOnlyAreNone) {
  CodesRig r;
  DiscTexts t;
  t.catalog = "0000000000000";
  t.tracks = {{"", "", "000000000000"}, {"", "", ""}};
  r.rec.SetDiscTexts(t);
  r.Burn();
  // Lead-in, track 1's INDEX 00 and 01, track 2, lead-out: nothing else.
  EXPECT_EQ(r.rec.CueSheet().size(), 5u * 8);
  EXPECT_EQ(r.Image().find("CATALOG"), std::string::npos);
  EXPECT_EQ(r.Image().find("ISRC"), std::string::npos);
}

}  // namespace
}  // namespace sonarvex
