// Reading the disc: the table of contents into the album record, the rows
// and panels, data tracks and the second-session correction, broken tables
// of contents.
#include <gtest/gtest.h>

#include <cstring>

#include "drive/AudioReading.h"
#include "drive/DiscModel.h"
#include "drive/DriveCommands.h"
#include "platform/Cp1251.h"
#include "platform/ScriptedDialogs.h"
#include "tests/drive/DriveRig.h"

namespace sonarvex {
namespace {

using test::DriveRig;

struct Desc {
  int control, m, s, f;
};

// A table of contents as a drive returns it (MSF addresses).
void MakeToc(std::uint8_t (&toc)[kTocLength], const std::vector<Desc>& tracks, Desc leadOut) {
  std::memset(toc, 0, kTocLength);
  const int n = static_cast<int>(tracks.size());
  const int length = 2 + 8 * (n + 1);
  toc[0] = static_cast<std::uint8_t>(length >> 8);
  toc[1] = static_cast<std::uint8_t>(length);
  toc[2] = 1;
  toc[3] = static_cast<std::uint8_t>(n);
  for (int i = 0; i <= n; ++i) {
    const Desc& d = i < n ? tracks[static_cast<std::size_t>(i)] : leadOut;
    std::uint8_t* p = toc + 4 + 8 * i;
    p[1] = static_cast<std::uint8_t>(0x10 | d.control);
    p[2] = static_cast<std::uint8_t>(i < n ? i + 1 : 0xAA);
    p[5] = static_cast<std::uint8_t>(d.m);
    p[6] = static_cast<std::uint8_t>(d.s);
    p[7] = static_cast<std::uint8_t>(d.f);
  }
}

// The table ParseTocAnswer makes of the answer, with the drive's word on the
// sessions when given.
DiscToc Parsed(const std::uint8_t (&toc)[kTocLength], const SessionInfo& sessions = {}) {
  auto parsed = ParseTocAnswer(toc, kTocLength);
  EXPECT_TRUE(parsed);
  DiscToc out = parsed ? *parsed : DiscToc{};
  ApplySessionInfo(out, sessions);
  return out;
}

SessionInfo OneSessionFrom(int firstTrack) {
  SessionInfo s;
  s.known = true;
  s.firstTrackOfLastSession = firstTrack;
  s.lastSession = 1;
  return s;
}

TEST(DiscModel, StandardDiscRowsAndTexts) {
  std::uint8_t toc[kTocLength];
  MakeToc(toc, {{0, 0, 2, 0}, {0, 4, 2, 0}, {0, 9, 30, 37}}, {0, 74, 13, 42});
  AlbumRecord album{};
  ASSERT_EQ(FillTracksFromToc(Parsed(toc), album, false), 3);
  EXPECT_EQ(album.FirstTrackOffset, 150);
  EXPECT_EQ(album.TrackCount, 3);
  EXPECT_EQ(album.Tracks[0].StartSector, 0);
  EXPECT_EQ(FieldText(album.Tracks[0].Title), "Track1");
  EXPECT_EQ(FieldText(album.Tracks[3].Title), "Track4");  // the lead-out row too
  // A track of exactly 4 minutes.
  EXPECT_EQ(album.Tracks[0].Size, 42336000u);
  auto rows = BuildTrackRows(album, 3);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].time, "04:00:00");
  EXPECT_EQ(rows[0].size, "40.37 Мб");
  EXPECT_EQ(rows[0].state, "Не скопирован");
  EXPECT_TRUE(rows[0].checked);
  EXPECT_EQ(rows[0].image, 1);
  EXPECT_EQ(rows[1].time, "05:28:37");
  EXPECT_EQ(album.Tracks[2].Start.minute, 9);
  EXPECT_EQ(album.Tracks[2].StartSector, 9 * 4500 + 30 * 75 + 37 - 150);
  EXPECT_EQ(TrackPanelText(3), "Треков: 3");
  EXPECT_EQ(TimePanelText(album, 3), "Время: 74:13:42");

  album.Tracks[1].CopiedFlag = 1;
  rows = BuildTrackRows(album, 3);
  EXPECT_FALSE(rows[1].checked);
  EXPECT_EQ(rows[1].image, 2);
  EXPECT_EQ(rows[1].state, "Cкопирован");
  EXPECT_EQ(rows[1].state.substr(0, 1), "C");  // Latin C
}

TEST(DiscModel, TimePanelHasNoPadding) {
  std::uint8_t toc[kTocLength];
  MakeToc(toc, {{0, 0, 2, 0}}, {0, 5, 7, 9});
  AlbumRecord album{};
  FillTracksFromToc(Parsed(toc), album, false);
  EXPECT_EQ(TimePanelText(album, 1), "Время: 5:7:9");
}

TEST(DiscModel, DiscIdentifierFromTheRawTable) {
  std::uint8_t toc[kTocLength];
  // Tracks at 2 s and 100 s, lead-out at 200 s: digit sums 2 + 1 = 3,
  // playing time 198 s, 2 tracks.
  MakeToc(toc, {{0, 0, 2, 0}, {0, 1, 40, 0}}, {0, 3, 20, 0});
  EXPECT_EQ(CddbDiscId(Parsed(toc)), (3u << 24) | (198u << 8) | 2u);
}

TEST(DiscModel, AllDataDiscHasOnlyDataRows) {
  DriveRig rig({BuildDisc({{3000, 4, 1}, {2000, 4, 1}})});
  ScriptedDialogs dialogs;
  AlbumRecord album;
  const DiscView view = ReadDisc(rig.spti, 0, 0, dialogs, album);
  ASSERT_TRUE(view.present);
  ASSERT_EQ(view.rows.size(), 2u);
  for (const auto& r : view.rows) {
    EXPECT_EQ(r.caption, "DataTrack");
    EXPECT_EQ(r.image, 3);
    EXPECT_FALSE(r.checked);
    EXPECT_TRUE(r.time.empty());
  }
  EXPECT_FALSE(view.hasAudio);
  EXPECT_FALSE(view.CommandsEnabled());
  EXPECT_EQ(view.CaptionSuffix(), "");
}

TEST(DiscModel, EnhancedCdCorrection) {
  std::uint8_t toc[kTocLength];
  MakeToc(toc, {{0, 0, 2, 0}, {0, 20, 0, 0}, {4, 60, 0, 0}}, {4, 70, 0, 0});
  AlbumRecord album{};
  ASSERT_EQ(FillTracksFromToc(Parsed(toc), album, false), 3);
  EXPECT_EQ(album.Tracks[2].StartSector, 270000 - 150 - 11250 - 150);
  EXPECT_EQ(album.Tracks[2].StartSector, 258450);
  EXPECT_EQ(album.Tracks[2].AudioFlag, 0);
  // The last audio track ends where the data track now starts.
  const AlbumTrackEntry& p = album.Tracks[1];
  EXPECT_EQ(p.StartSector + MsfToFrames(p.Length), 258450);
  EXPECT_EQ(p.Size, static_cast<std::uint32_t>(MsfToFrames(p.Length)) * 2352u);
  EXPECT_EQ(p.StartSector + MsfToFrames(p.Length) + 11400, 270000 - 150);
}

TEST(DiscModel, DataControlIsBitTwoAlone) {
  // Copy permitted with pre-emphasis (3), four channels (8..0B): audio.
  // Data with copy permitted (6), or with the other bits too (0C..0F): data.
  std::uint8_t toc[kTocLength];
  const int controls[] = {3, 0x0A, 0x0B, 6, 0x0C, 0x0F};
  std::vector<Desc> tracks;
  for (int i = 0; i < 6; ++i) tracks.push_back({controls[i], 0, 2 + 10 * i, 0});
  MakeToc(toc, tracks, {0, 1, 2, 0});
  AlbumRecord album{};
  ASSERT_EQ(FillTracksFromToc(Parsed(toc, OneSessionFrom(1)), album, false), 6);
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(controls[i]);
    EXPECT_EQ(album.Tracks[i].AudioFlag, (controls[i] & 4) ? 0 : 1);
    EXPECT_EQ(album.Tracks[i].Size, 750u * 2352u);
  }
}

TEST(DiscModel, SecondSessionCorrectionOnlyWhereTheGapIsThere) {
  // Audio 00:02:00..00:42:00 then data, lead-out at 01:00:00.
  std::uint8_t toc[kTocLength];
  MakeToc(toc, {{0, 0, 2, 0}, {0, 0, 22, 0}, {4, 0, 42, 0}}, {4, 1, 0, 0});
  AlbumRecord album{};
  // The drive says the disc has one session: nothing moves.
  ASSERT_EQ(FillTracksFromToc(Parsed(toc, OneSessionFrom(1)), album, false), 3);
  EXPECT_EQ(album.Tracks[1].Size, 1500u * 2352u);
  EXPECT_EQ(album.Tracks[2].StartSector, 3000);
  EXPECT_EQ(TimePanelText(album, 3), "Время: 1:0:0");
  // The drive did not say, and the 20 s track cannot hold the 11400
  // sectors between two sessions: no negative or empty track either.
  album = {};
  FillTracksFromToc(Parsed(toc), album, false);
  EXPECT_EQ(album.Tracks[1].Size, 1500u * 2352u);
  EXPECT_EQ(album.Tracks[2].StartSector, 3000);
  // A reply naming track 3 as the last session's first track moves it.
  std::uint8_t reply[kSessionInfoLength] = {0, 10, 1, 2, 0, 0x14, 3, 0, 0, 0, 42, 0};
  const SessionInfo info = SessionInfoFromReply(reply);
  EXPECT_TRUE(info.known);
  EXPECT_EQ(info.firstTrackOfLastSession, 3);
  MakeToc(toc, {{0, 0, 2, 0}, {0, 20, 0, 0}, {4, 60, 0, 0}}, {4, 70, 0, 0});
  album = {};
  FillTracksFromToc(Parsed(toc, info), album, false);
  EXPECT_EQ(album.Tracks[2].StartSector, 258450);
  EXPECT_EQ(album.Tracks[1].StartSector + MsfToFrames(album.Tracks[1].Length), 258450);
  // A reply too short to name a track leaves the sessions unknown.
  reply[1] = 2;
  EXPECT_FALSE(SessionInfoFromReply(reply).known);
}

TEST(DiscModel, TooManyTracksAreCutTo99PlusLeadOut) {
  std::uint8_t toc[kTocLength] = {};
  toc[0] = 0xFF;  // claims more than the buffer holds
  toc[1] = 0xFF;
  toc[2] = 1;
  toc[3] = 120;
  for (int i = 0; i < 100; ++i) {
    std::uint8_t* p = toc + 4 + 8 * i;
    const int frames = 150 + i * 1000;
    p[5] = static_cast<std::uint8_t>(frames / 4500);
    p[6] = static_cast<std::uint8_t>((frames / 75) % 60);
    p[7] = static_cast<std::uint8_t>(frames % 75);
  }
  AlbumRecord album{};
  EXPECT_EQ(Parsed(toc).TrackCount(), 99);
  EXPECT_EQ(FillTracksFromToc(Parsed(toc), album, false), 99);
  EXPECT_EQ(album.TrackCount, 99);
  EXPECT_EQ(album.Tracks[98].Size, 1000u * 2352u);
  EXPECT_EQ(album.Tracks[99].Size, 0u);  // lead-out row; nothing read past the table
  EXPECT_EQ(BuildTrackRows(album, 99).size(), 99u);
  EXPECT_EQ(CddbDiscId(Parsed(toc)) & 0xFF, 99u);
}

TEST(DiscModel, LeadOutBeforeATrackStartGivesZeroLength) {
  std::uint8_t toc[kTocLength];
  MakeToc(toc, {{0, 0, 2, 0}, {0, 10, 0, 0}}, {0, 5, 0, 0});
  AlbumRecord album{};
  ASSERT_EQ(FillTracksFromToc(Parsed(toc), album, false), 2);
  EXPECT_EQ(MsfToFrames(album.Tracks[1].Length), 0);
  EXPECT_EQ(album.Tracks[1].Size, 0u);
  EXPECT_EQ(BuildTrackRows(album, 2)[1].time, "00:00:00");
}

TEST(DiscModel, ShortReplyKeepsOnlyTheDescriptorsItHolds) {
  std::uint8_t toc[kTocLength];
  MakeToc(toc, {{0, 0, 2, 0}, {0, 1, 0, 0}, {0, 2, 0, 0}}, {0, 3, 0, 0});
  toc[3] = 10;  // header claims ten tracks, data length holds four descriptors
  AlbumRecord album{};
  EXPECT_EQ(FillTracksFromToc(Parsed(toc), album, false), 3);
  toc[0] = 0;
  toc[1] = 2;  // only the header
  EXPECT_FALSE(ParseTocAnswer(toc, kTocLength));
  EXPECT_EQ(FillTracksFromToc(DiscToc{}, album, false), 0);
  EXPECT_TRUE(BuildTrackRows(album, 0).empty());
}

class DiscOnBothTransports : public testing::TestWithParam<TransportKind> {};

TEST_P(DiscOnBothTransports, CodeBuiltEnhancedCdThroughTheDrive) {
  // Two audio tracks, a data track in a second session.
  DriveRig rig({BuildDisc({{18000, 0, 1}, {7500, 0, 1}, {4500, 4, 2}})});
  ScriptedDialogs dialogs;
  AlbumRecord album;
  Transport& t = GetParam() == TransportKind::Spti ? static_cast<Transport&>(rig.spti) : rig.aspi;
  const DiscView view = ReadDisc(t, 0, 0, dialogs, album);
  ASSERT_TRUE(view.present);
  EXPECT_EQ(view.trackCount, 3);
  EXPECT_EQ(view.inquiry, "SONARVEXVirtual CD      ");
  ASSERT_EQ(view.rows.size(), 3u);
  EXPECT_EQ(view.rows[0].time, "04:00:00");
  EXPECT_EQ(view.rows[0].size, "40.37 Мб");
  EXPECT_EQ(view.rows[1].time, "01:40:00");  // corrected back to its real length
  EXPECT_EQ(view.rows[2].caption, "DataTrack");
  EXPECT_EQ(album.Tracks[2].StartSector, 25500);
  EXPECT_TRUE(view.CommandsEnabled());
}

TEST_P(DiscOnBothTransports, DataTrackLastInOneSessionKeepsTheAudioLengths) {
  // A 200 s audio track, then a data track in the same session (an enhanced
  // CD imaged without its session marks); then a 40 s one, shorter than the
  // gap between two sessions would be.
  for (const std::int32_t audio : {15000, 3000}) {
    SCOPED_TRACE(audio);
    VirtualDisc disc = BuildDisc({{600, 0, 1}, {audio, 0, 1}, {4500, 4, 1}});
    DriveRig rig({disc});
    ScriptedDialogs dialogs;
    AlbumRecord album;
    Transport& t = rig.Get(GetParam());
    const DiscView view = ReadDisc(t, 0, 0, dialogs, album);
    ASSERT_TRUE(view.present);
    EXPECT_TRUE(view.toc.sessions.known);
    ASSERT_EQ(view.rows.size(), 3u);
    EXPECT_EQ(view.rows[1].time, audio == 15000 ? "03:20:00" : "00:40:00");
    EXPECT_EQ(album.Tracks[1].Size, static_cast<std::uint32_t>(audio) * 2352u);
    EXPECT_EQ(album.Tracks[2].StartSector, 600 + audio);
    EXPECT_EQ(view.rows[2].caption, "DataTrack");
    // The rip of the last audio track is the whole track.
    std::vector<std::uint8_t> got, expected(static_cast<std::size_t>(audio) * 2352);
    for (std::int32_t i = 0; i < audio; ++i) disc.read(600 + i, expected.data() + 2352 * i);
    ASSERT_TRUE(ReadAudioSectors(t, album.Tracks[1].StartSector, audio, 26, got));
    EXPECT_TRUE(got == expected);
  }
}

TEST_P(DiscOnBothTransports, CopyPermittedAudioWithPreEmphasisOrFourChannelsIsRipped) {
  VirtualDisc disc = BuildDisc({{750, 0x03, 1}, {750, 0x0A, 1}, {750, 0x0B, 1}, {750, 0x06, 1}});
  DriveRig rig({disc});
  ScriptedDialogs dialogs;
  AlbumRecord album;
  Transport& t = rig.Get(GetParam());
  const DiscView view = ReadDisc(t, 0, 0, dialogs, album);
  ASSERT_EQ(view.rows.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(view.rows[static_cast<std::size_t>(i)].audio);
    EXPECT_EQ(view.rows[static_cast<std::size_t>(i)].time, "00:10:00");
    std::vector<std::uint8_t> got;
    EXPECT_TRUE(ReadAudioSectors(t, album.Tracks[i].StartSector, 750, 26, got));
  }
  EXPECT_EQ(view.rows[3].caption, "DataTrack");
}

TEST_P(DiscOnBothTransports, KnownDiscKeepsItsTitles) {
  DriveRig rig({BuildAudioDisc({1000, 2000})});
  ScriptedDialogs dialogs;
  AlbumRecord album;
  std::uint32_t seen = 0;
  Transport& t = GetParam() == TransportKind::Spti ? static_cast<Transport&>(rig.spti) : rig.aspi;
  const DiscView view = ReadDisc(t, 0, 0, dialogs, album, [&](std::uint32_t id, AlbumRecord& a) {
    seen = id;
    SetFieldUtf8(a.Tracks[0].Title, "Первая");
    SetFieldUtf8(a.Artist, "Группа");
    a.Tracks[1].CopiedFlag = 1;
    a.TrackCount = 40;  // the disc's own fields are rewritten
    return true;
  });
  EXPECT_EQ(seen, view.discId);
  EXPECT_EQ(static_cast<std::uint32_t>(album.DiscId), view.discId);
  EXPECT_TRUE(view.known);
  EXPECT_EQ(album.TrackCount, 2);
  EXPECT_EQ(view.rows[0].caption, "Первая");
  EXPECT_EQ(view.rows[1].caption, "");
  EXPECT_EQ(view.rows[1].state, "Cкопирован");
  EXPECT_EQ(FieldUtf8(album.Artist), "Группа");
}

TEST_P(DiscOnBothTransports, NoDiscState) {
  DriveRig rig({BuildAudioDisc({1000})});
  rig.Drive().RemoveDisc();
  ScriptedDialogs dialogs;
  AlbumRecord album;
  std::memset(&album, 0x55, sizeof album);
  Transport& t = GetParam() == TransportKind::Spti ? static_cast<Transport&>(rig.spti) : rig.aspi;
  const DiscView view = ReadDisc(t, 0, 0, dialogs, album);
  EXPECT_FALSE(view.present);
  EXPECT_TRUE(view.rows.empty());
  EXPECT_EQ(view.CaptionSuffix(), " - Диска нет");
  EXPECT_EQ(album.TrackCount, 0);
  EXPECT_TRUE(view.toc.tracks.empty());
  EXPECT_EQ(view.toc.leadOut.Frames(), 0);
  EXPECT_TRUE(dialogs.Clean());
}

TEST_P(DiscOnBothTransports, BrokenTableFromTheDriveNeverCrashes) {
  VirtualDisc disc = BuildAudioDisc({1000});
  std::vector<std::uint8_t> raw(804, 0xFF);  // every byte 255
  raw[0] = 0x03;
  raw[1] = 0x22;
  disc.rawToc = raw;
  DriveRig rig({disc});
  ScriptedDialogs dialogs;
  AlbumRecord album;
  Transport& t = GetParam() == TransportKind::Spti ? static_cast<Transport&>(rig.spti) : rig.aspi;
  const DiscView view = ReadDisc(t, 0, 0, dialogs, album);
  EXPECT_TRUE(view.present);
  EXPECT_EQ(view.trackCount, 99);
  EXPECT_EQ(view.rows.size(), 99u);

  // A reply of just 3 bytes.
  disc.rawToc = std::vector<std::uint8_t>{0x00, 0x12, 0x01};
  rig.Drive().InsertDisc(disc);
  const DiscView shortView = ReadDisc(t, 0, 0, dialogs, album);
  EXPECT_TRUE(shortView.present);
  EXPECT_EQ(shortView.trackCount, 0);
  EXPECT_FALSE(shortView.hasAudio);
}

TEST_P(DiscOnBothTransports, AnAnswerWithoutATableGivesADiscOfNoTracks) {
  // The data length leaves no room for a lead-out: the disc is there, with
  // no tracks, no commands and nothing taken from the descriptors.
  VirtualDisc disc = BuildAudioDisc({1000, 2000});
  std::vector<std::uint8_t> raw(4 + 8 * 3, 0);
  raw[1] = 9;
  raw[2] = 1;
  raw[3] = 2;
  for (int i = 0; i < 3; ++i) raw[4 + 8 * i + 6] = static_cast<std::uint8_t>(2 + 10 * i);
  disc.rawToc = raw;
  DriveRig rig({disc});
  ScriptedDialogs dialogs;
  AlbumRecord album;
  std::uint32_t looked = 1;
  Transport& t = rig.Get(GetParam());
  const DiscView view = ReadDisc(t, 0, 0, dialogs, album, [&](std::uint32_t id, AlbumRecord&) {
    looked = id;
    return false;
  });
  EXPECT_TRUE(view.present);
  EXPECT_EQ(view.trackCount, 0);
  EXPECT_TRUE(view.rows.empty());
  EXPECT_FALSE(view.CommandsEnabled());
  EXPECT_EQ(view.discId, 0u);
  EXPECT_EQ(looked, 0u);
  EXPECT_EQ(view.trackPanel, "Треков: 0");
  EXPECT_EQ(view.timePanel, "Время: 0:0:0");
  EXPECT_EQ(album.TrackCount, 0);
  EXPECT_EQ(album.DiscId, 0);
  EXPECT_EQ(FieldText(album.Tracks[0].Title), "");
  EXPECT_TRUE(view.toc.tracks.empty());
  EXPECT_TRUE(dialogs.Clean());
}

INSTANTIATE_TEST_SUITE_P(Drive, DiscOnBothTransports,
                         testing::Values(TransportKind::Spti, TransportKind::Aspi), test::KindName);

}  // namespace
}  // namespace sonarvex
