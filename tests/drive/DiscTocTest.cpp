// The table of contents parsed from the drive's READ TOC answer: discs as
// they come (audio, enhanced, mixed mode), broken answers, and the disc
// identifiers computed from the table against published values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "accuraterip/AccurateRip.h"
#include "drive/DiscModel.h"
#include "drive/DiscToc.h"
#include "metadata/DiscId.h"

namespace sonarvex {
namespace {

struct Entry {
  int number;
  int control;
  std::int32_t framesPlus150;  // the start as MSF counts it
};

// An answer as a drive gives it: the data length, first and last track, one
// descriptor a track (ADR 1) and the lead-out.
std::vector<std::uint8_t> Answer(const std::vector<Entry>& tracks, Entry leadOut) {
  std::vector<std::uint8_t> a(4 + 8 * (tracks.size() + 1), 0);
  a[0] = static_cast<std::uint8_t>((a.size() - 2) >> 8);
  a[1] = static_cast<std::uint8_t>(a.size() - 2);
  a[2] = static_cast<std::uint8_t>(tracks.front().number);
  a[3] = static_cast<std::uint8_t>(tracks.back().number);
  for (std::size_t i = 0; i <= tracks.size(); ++i) {
    const Entry& e = i < tracks.size() ? tracks[i] : leadOut;
    std::uint8_t* d = a.data() + 4 + 8 * i;
    d[1] = static_cast<std::uint8_t>(0x10 | e.control);
    d[2] = static_cast<std::uint8_t>(e.number);
    d[5] = static_cast<std::uint8_t>(e.framesPlus150 / 4500);
    d[6] = static_cast<std::uint8_t>(e.framesPlus150 / 75 % 60);
    d[7] = static_cast<std::uint8_t>(e.framesPlus150 % 75);
  }
  return a;
}

std::vector<Entry> Tracks(const std::vector<std::int32_t>& starts, int dataIndex = -1) {
  std::vector<Entry> t;
  for (std::size_t i = 0; i < starts.size(); ++i)
    t.push_back({static_cast<int>(i + 1), static_cast<int>(i) == dataIndex ? 4 : 0, starts[i]});
  return t;
}

// The answer copied into a heap block of exactly its size, so that a read
// past it is a read past the block.
DiscToc ParseExact(const std::vector<std::uint8_t>& answer) {
  std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[answer.size()]);
  std::copy(answer.begin(), answer.end(), exact.get());
  auto toc = ParseTocAnswer(exact.get(), answer.size());
  EXPECT_TRUE(toc);
  return toc ? *toc : DiscToc{};
}

std::string ArName(const DiscToc& toc) {
  const std::string path = ArEntryPath(ComputeArDiscIds(ArTocOf(toc)));
  return path.substr(path.rfind('/') + 1);
}

// A published ten-track audio disc.
const std::vector<std::int32_t> kTenTracks = {150,    12767,  40487,  63225,  93410,
                                              118115, 151865, 184340, 215260, 247455};

TEST(DiscToc, PlainAudioDisc) {
  auto tracks = Tracks(kTenTracks);
  tracks[2].control = 0x02;  // copy permitted
  tracks[3].control = 0x01;  // pre-emphasis
  tracks[4].control = 0x08;  // four channels
  const DiscToc toc = ParseExact(Answer(tracks, {0xAA, 0, 270335}));
  EXPECT_EQ(toc.firstTrack, 1);
  EXPECT_EQ(toc.lastTrack, 10);
  ASSERT_EQ(toc.TrackCount(), 10);
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    const TocTrack& t = toc.tracks[static_cast<std::size_t>(i)];
    EXPECT_EQ(t.number, i + 1);
    EXPECT_TRUE(t.Audio());
    EXPECT_EQ(t.startLba, kTenTracks[static_cast<std::size_t>(i)] - 150);
    EXPECT_EQ(t.Frames(), kTenTracks[static_cast<std::size_t>(i)]);
    const std::int32_t next = i < 9 ? kTenTracks[static_cast<std::size_t>(i) + 1] : 270335;
    EXPECT_EQ(t.lengthFrames, next - kTenTracks[static_cast<std::size_t>(i)]);
    EXPECT_EQ(t.session, 0);  // the drive was not asked
  }
  EXPECT_TRUE(toc.tracks[2].CopyPermitted());
  EXPECT_FALSE(toc.tracks[2].PreEmphasis());
  EXPECT_TRUE(toc.tracks[3].PreEmphasis());
  EXPECT_TRUE(toc.tracks[4].FourChannels());
  EXPECT_TRUE(toc.tracks[4].Audio());
  EXPECT_EQ(toc.leadOut.number, 0xAA);
  EXPECT_EQ(toc.leadOut.startLba, 270335 - 150);
  EXPECT_EQ(toc.leadOut.lengthFrames, 0);
  EXPECT_EQ(toc.Descriptor(10).startLba, toc.leadOut.startLba);

  // The identifiers as published, and as the album rows give them.
  EXPECT_EQ(ArName(toc), "dBAR-010-00154c2f-00af4fd4-890e120a.bin");
  EXPECT_EQ(CddbDiscId(toc), 0x890e120au);
  AlbumRecord album{};
  ASSERT_EQ(FillTracksFromToc(toc, album, false), 10);
  EXPECT_EQ(CddbDiscId(toc), ComputeDiscId(TocTableFromAlbum(album)));
  EXPECT_EQ(static_cast<std::uint32_t>(album.DiscId), CddbDiscId(toc));
}

TEST(DiscToc, EnhancedCdWithItsDataTrackInASecondSession) {
  auto starts = kTenTracks;
  starts.push_back(281735);
  DiscToc toc = ParseExact(Answer(Tracks(starts, 10), {0xAA, 4, 333801}));
  ASSERT_EQ(toc.TrackCount(), 11);
  EXPECT_FALSE(toc.tracks[10].Audio());
  EXPECT_TRUE(toc.tracks[9].Audio());
  EXPECT_EQ(toc.tracks[9].lengthFrames, 281735 - 247455);  // the gap between the sessions included

  // The drive's word on the sessions: two, the last one opened by track 11.
  const std::uint8_t reply[kSessionInfoLength] = {0, 10, 1, 2, 0, 0x14, 11, 0, 0, 62, 36, 35};
  const SessionInfo info = SessionInfoFromReply(reply);
  ASSERT_TRUE(info.known);
  EXPECT_EQ(info.firstTrackOfLastSession, 11);
  EXPECT_EQ(info.lastSession, 2);
  ApplySessionInfo(toc, info);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(toc.tracks[static_cast<std::size_t>(i)].session, 1) << i;
  EXPECT_EQ(toc.tracks[10].session, 2);
  EXPECT_EQ(toc.leadOut.session, 2);

  // AccurateRip counts the audio tracks with the disc's lead-out; CDDB every
  // track.
  EXPECT_EQ(ArName(toc), "dBAR-010-00164419-00b9f6e2-9e11600b.bin");
  EXPECT_EQ(CddbDiscId(toc), 0x9e11600bu);
  const ArToc ar = ArTocOf(toc);
  EXPECT_TRUE(IsLastArTrack(ar, 9));

  // The disc model moves the data track back over the gap; the table keeps
  // the drive's addresses.
  AlbumRecord album{};
  ASSERT_EQ(FillTracksFromToc(toc, album, false), 11);
  EXPECT_EQ(album.Tracks[10].StartSector, 281735 - 150 - 11400);
  EXPECT_EQ(toc.tracks[10].startLba, 281735 - 150);
}

TEST(DiscToc, MixedModeDiscWithItsDataTrackFirst) {
  const std::vector<std::int32_t> starts = {
      150,    66728,  76502,  85963,  93760,  104048, 116066, 124743, 134206, 142916,
      151852, 160720, 169425, 178731, 188459, 196711, 206354, 214845, 223686, 225746,
      226384, 232668, 239447, 239931, 244989, 254264, 260066, 261222, 261674};
  const DiscToc toc = ParseExact(Answer(Tracks(starts, 0), {0xAA, 0, 261976}));
  ASSERT_EQ(toc.TrackCount(), 29);
  EXPECT_FALSE(toc.tracks[0].Audio());
  EXPECT_EQ(std::count_if(toc.tracks.begin(), toc.tracks.end(), [](const TocTrack& t) { return t.Audio(); }),
            28);
  EXPECT_EQ(ArName(toc), "dBAR-028-00517a54-05a845d2-af0da31d.bin");
  EXPECT_EQ(CddbDiscId(toc), 0xaf0da31du);
}

TEST(DiscToc, AnswersWithoutATableAreRefused) {
  EXPECT_FALSE(ParseTocAnswer(nullptr, 804));
  const std::uint8_t header[4] = {0, 2, 1, 1};
  for (std::size_t size = 0; size < 4; ++size) EXPECT_FALSE(ParseTocAnswer(header, size)) << size;
  // Only the header: no lead-out.
  EXPECT_FALSE(ParseTocAnswer(header, sizeof header));
  // A data length too short for one descriptor.
  std::vector<std::uint8_t> answer = Answer(Tracks({150}), {0xAA, 0, 900});
  for (int length : {1, 2, 9}) {
    answer[0] = 0;
    answer[1] = static_cast<std::uint8_t>(length);
    EXPECT_FALSE(ParseTocAnswer(answer.data(), answer.size())) << length;
  }
  // Room for the lead-out alone: a table of no tracks.
  answer[1] = 10;
  const auto leadOutOnly = ParseTocAnswer(answer.data(), answer.size());
  ASSERT_TRUE(leadOutOnly);
  EXPECT_EQ(leadOutOnly->TrackCount(), 0);
  EXPECT_EQ(CddbDiscId(*leadOutOnly), 0u);
}

TEST(DiscToc, ACountBeyondTheDescriptorsIsCutToThem) {
  // The header names ten tracks; the data length holds three and the lead-out.
  std::vector<std::uint8_t> answer = Answer(Tracks({150, 4650, 9150}), {0xAA, 0, 13650});
  answer[3] = 10;
  DiscToc toc = ParseExact(answer);
  ASSERT_EQ(toc.TrackCount(), 3);
  EXPECT_EQ(toc.lastTrack, 10);
  EXPECT_EQ(toc.leadOut.number, 0xAA);
  EXPECT_EQ(toc.leadOut.startLba, 13500);
  EXPECT_EQ(CddbDiscId(toc) & 0xFF, 3u);
  // More than 99 tracks are cut to 99.
  std::vector<std::int32_t> starts;
  for (int i = 0; i < 99; ++i) starts.push_back(150 + 1000 * i);
  answer = Answer(Tracks(starts), {0xAA, 0, 150 + 99000});
  ASSERT_EQ(answer.size(), kTocLength);
  answer[3] = 120;
  toc = ParseExact(answer);
  ASSERT_EQ(toc.TrackCount(), 99);
  EXPECT_EQ(toc.leadOut.startLba, 99000);
}

TEST(DiscToc, ALengthBeyondTheBufferReadsNothingPastIt) {
  // The drive's data length says more than the buffer holds (an answer cut
  // at the allocation length): what is missing counts as zero, nothing past
  // the buffer is read. The bytes after `size` differ from zero here, so a
  // read of them would show in the table.
  std::vector<std::uint8_t> answer = Answer(Tracks({150, 4650, 9150}), {0xAA, 0, 13650});
  answer[0] = 0x03;
  answer[1] = 0x22;  // 802: a full buffer
  std::vector<std::uint8_t> padded(answer);
  padded.resize(kTocLength, 0x00);
  std::vector<std::uint8_t> poisoned(answer);
  poisoned.resize(kTocLength, 0xFF);
  const auto expected = ParseTocAnswer(padded.data(), padded.size());
  const auto got = ParseTocAnswer(poisoned.data(), answer.size());
  ASSERT_TRUE(expected && got);
  EXPECT_EQ(got->TrackCount(), 3);
  EXPECT_EQ(got->leadOut.startLba, 13500);
  EXPECT_EQ(CddbDiscId(*got), CddbDiscId(*expected));
  // Cut inside a descriptor: the rest of it is zero.
  for (std::size_t cut : {std::size_t{4}, std::size_t{13}, std::size_t{27}, std::size_t{35}}) {
    SCOPED_TRACE(cut);
    std::vector<std::uint8_t> zeros(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(cut));
    zeros.resize(kTocLength, 0x00);
    const auto a = ParseTocAnswer(poisoned.data(), cut);
    const auto b = ParseTocAnswer(zeros.data(), zeros.size());
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->TrackCount(), b->TrackCount());
    for (int i = 0; i <= a->TrackCount(); ++i) {
      EXPECT_EQ(a->Descriptor(i).Frames(), b->Descriptor(i).Frames()) << i;
      EXPECT_EQ(a->Descriptor(i).control, b->Descriptor(i).control) << i;
      EXPECT_EQ(a->Descriptor(i).number, b->Descriptor(i).number) << i;
    }
  }
  // A buffer larger than a full answer: only kTocLength bytes count.
  std::vector<std::uint8_t> big(kTocLength + 100, 0xFF);
  std::copy(padded.begin(), padded.end(), big.begin());
  const auto large = ParseTocAnswer(big.data(), big.size());
  ASSERT_TRUE(large);
  EXPECT_EQ(CddbDiscId(*large), CddbDiscId(*expected));
}

TEST(DiscToc, SessionsAreAddedToTheTracks) {
  DiscToc toc = ParseExact(Answer(Tracks({150, 4650, 9150}, 2), {0xAA, 4, 20000}));
  // One session: every track is in it.
  SessionInfo one;
  one.known = true;
  one.firstTrackOfLastSession = 1;
  one.lastSession = 1;
  ApplySessionInfo(toc, one);
  for (const TocTrack& t : toc.tracks) EXPECT_EQ(t.session, 1);
  // Three sessions: the tracks before the last one's are in one of the
  // first two, which is not said.
  SessionInfo three = one;
  three.firstTrackOfLastSession = 3;
  three.lastSession = 3;
  ApplySessionInfo(toc, three);
  EXPECT_EQ(toc.tracks[0].session, 0);
  EXPECT_EQ(toc.tracks[2].session, 3);
  ApplySessionInfo(toc, SessionInfo{});
  EXPECT_EQ(toc.tracks[2].session, 0);
  EXPECT_FALSE(toc.sessions.known);
}

}  // namespace
}  // namespace sonarvex
