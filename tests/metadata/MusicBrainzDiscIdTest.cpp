// The MusicBrainz disc identifier against published ones: the example of the
// MusicBrainz documentation, real discs as MusicBrainz lists them (offsets,
// sectors and identifier of the "discs" of release answers kept in the test
// data of whipper and Picard), and two real enhanced CDs whose identifiers
// whipper's tests quote.
#include <gtest/gtest.h>

#include "drive/DiscToc.h"
#include "metadata/MusicBrainzDiscId.h"

namespace sonarvex {
namespace {

// A table as a drive gives it: starts in sectors with the lead-in (LBA +
// 150); data: which tracks are data tracks.
DiscToc MakeToc(const std::vector<int>& starts, int leadOut, const std::vector<bool>& data = {},
                int firstNumber = 1) {
  DiscToc toc;
  toc.firstTrack = firstNumber;
  toc.lastTrack = firstNumber + static_cast<int>(starts.size()) - 1;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    TocTrack t;
    t.number = firstNumber + static_cast<int>(i);
    t.control = i < data.size() && data[i] ? 4 : 0;
    t.address = FramesToMsf(starts[i]);
    t.startLba = starts[i] - kLeadInFrames;
    toc.tracks.push_back(t);
  }
  toc.leadOut.number = 0xAA;
  toc.leadOut.address = FramesToMsf(leadOut);
  toc.leadOut.startLba = leadOut - kLeadInFrames;
  return toc;
}

std::string IdOf(const DiscToc& toc) {
  const auto mb = MusicBrainzTocOf(toc);
  return mb ? MusicBrainzDiscId(*mb) : std::string("(none)");
}

TEST(MusicBrainzDiscId, TheDocumentationsExample) {
  // LBA 0, 15213, 32164, 46442, 63264, 80339, lead-out 95312.
  const DiscToc toc =
      MakeToc({150, 15363, 32314, 46592, 63414, 80489}, 95462);
  EXPECT_EQ(IdOf(toc), "49HHV7Eb8UKF3aQiNmu1GR8vKTY-");
  EXPECT_EQ(MusicBrainzTocParameter(*MusicBrainzTocOf(toc)),
            "1+6+95462+150+15363+32314+46592+63414+80489");
}

struct ListedDisc {
  const char* id;
  int sectors;
  std::vector<int> offsets;
};

TEST(MusicBrainzDiscId, RealDiscsAsMusicBrainzListsThem) {
  const ListedDisc discs[] = {
      // whipper/test/whipper.release.*.json ("disc-list" of each medium)
      {"b.yqPuCBdsV5hrzDvYrw52iK_jE-", 355532,
       {182, 8067, 14985, 28407, 39920, 74532, 79825, 93370, 135732, 162415, 168137, 182882}},
      {"N3qkuOmyWItpZ4NhrjM.3g4pkI0-", 239095,
       {183, 17980, 35460, 54990, 73188, 88798, 110548, 132518, 144460, 156735, 174673, 193738,
        207185, 230718}},
      {"cHW1Uutl_kyWNaLJsLmTGTe4rnE-", 224238,
       {150, 13374, 24544, 40029, 53948, 64717, 75840, 92284, 113387, 128033, 144752, 156524,
        173552, 189058, 201726, 214559}},
      {"RhrwgVb0hZNkabQCw1dZIhdbMFg-", 350674,
       {150, 16982, 29710, 38768, 58738, 70167, 78721, 81844, 86334, 102549, 105097, 114494,
        128067, 142341, 149139, 170938, 188766, 200610, 217291, 223081, 231298, 240204, 253311,
        269573, 282860, 296839, 310659, 314148, 328990, 331951}},
      {"xu338_M8WukSRi0J.KTlDoflB8Y-", 147674,
       {150, 6650, 17135, 29982, 37318, 44334, 53648, 60998, 69393, 77732, 96632, 106946, 121362,
        137085}},
      {"X2c2IQ5vUy5x6Jh7Xi_DGHtA1X8-", 66872, {150, 17037, 35418, 53803}},
      // Picard test/data/ws_data/release_5medias.json, media 1 and 2
      {"tNSQ3K59B8ZkSb19P__Jet6B.sk-", 199410, {150, 61109, 94976, 118065, 143171}},
      {"6NksHllhjO74WpVDabBDhj3P0qk-", 301068, {150, 91851, 148493, 230435, 240674, 273050}},
      // Picard test/data/ws_data/media_pregap.json: an enhanced CD's audio
      // session (a hidden track before track 1)
      {"7v3LmtkMIT49mHs7LobaAwBNsck-", 134481,
       {6824, 18966, 37134, 52930, 69024, 80329, 98814, 117353}},
  };
  for (const ListedDisc& d : discs) EXPECT_EQ(IdOf(MakeToc(d.offsets, d.sectors)), d.id);
}

// Ladyhawke (whipper's ladyhawke.toc; tests/data/whipper): twelve audio
// tracks, the data track at LBA 207106 in the second session, lead-out at
// LBA 210385.
DiscToc Ladyhawke() {
  const int lba[] = {0,      15537,  31691,  50866,  66466,  81202, 99409,
                     115920, 133093, 149847, 161560, 177682, 207106};
  std::vector<int> starts;
  std::vector<bool> data;
  for (int l : lba) {
    starts.push_back(l + 150);
    data.push_back(l == 207106);
  }
  return MakeToc(starts, 210385 + 150, data);
}

TEST(MusicBrainzDiscId, EnhancedCdsLeaveTheDataTrackOut) {
  DiscToc toc = Ladyhawke();
  EXPECT_EQ(IdOf(toc), "KnpGsLhvH.lPrNc1PBL21lb9Bg4-");
  EXPECT_EQ(MusicBrainzTocParameter(*MusicBrainzTocOf(toc)),
            "1+12+195856+150+15687+31841+51016+66616+81352+99559+116070+133243+149997+161710+"
            "177832");
  // The drive's word that the data track opens the second session changes
  // nothing.
  SessionInfo two;
  two.known = true;
  two.firstTrackOfLastSession = 13;
  two.lastSession = 2;
  ApplySessionInfo(toc, two);
  EXPECT_EQ(IdOf(toc), "KnpGsLhvH.lPrNc1PBL21lb9Bg4-");

  // whipper's capital.1.toc and capital.2.toc: eleven audio tracks, the
  // data track at 209250 (cd-discid's offsets), lead-out at 4440 s.
  const DiscToc capital = MakeToc({24320, 44855, 64090, 77885, 88095, 104020, 118245, 129255,
                                   141765, 164487, 181780, 209250},
                                  333000, {false, false, false, false, false, false, false,
                                           false, false, false, false, true});
  EXPECT_EQ(IdOf(capital), "MAj3xXf6QMy7G.BIFOyHyq4MySE-");
}

TEST(MusicBrainzDiscId, DataTrackInTheAudioSessionEndsItWithoutTheGap) {
  // The drive says the disc has one session: the audio ends where the data
  // track begins.
  DiscToc toc = MakeToc({150, 20000, 60000}, 70000, {false, false, true});
  SessionInfo one;
  one.known = true;
  one.firstTrackOfLastSession = 1;
  one.lastSession = 1;
  ApplySessionInfo(toc, one);
  auto mb = MusicBrainzTocOf(toc);
  ASSERT_TRUE(mb);
  EXPECT_EQ(mb->lastTrack, 2);
  EXPECT_EQ(mb->leadOut, 60000);
  // Without the drive's word the gap is taken off.
  toc = MakeToc({150, 20000, 60000}, 70000, {false, false, true});
  EXPECT_EQ(MusicBrainzTocOf(toc)->leadOut, 60000 - 11400);
  // A data track too close behind the audio for the gap: nothing taken off.
  toc = MakeToc({150, 20000, 25000}, 70000, {false, false, true});
  EXPECT_EQ(MusicBrainzTocOf(toc)->leadOut, 25000);
}

TEST(MusicBrainzDiscId, MixedModeDiscKeepsItsLeadingDataTrack) {
  const DiscToc toc = MakeToc({150, 30000, 45000}, 60000, {true, false, false});
  auto mb = MusicBrainzTocOf(toc);
  ASSERT_TRUE(mb);
  EXPECT_EQ(mb->firstTrack, 1);
  EXPECT_EQ(mb->lastTrack, 3);
  EXPECT_EQ(mb->leadOut, 60000);
  EXPECT_EQ(MusicBrainzTocParameter(*mb), "1+3+60000+150+30000+45000");
}

TEST(MusicBrainzDiscId, TracksNumberedFromAnotherTrackStandInTheirOwnSlots) {
  // The same disc numbered from 3 hashes other slots than from 1.
  const DiscToc from1 = MakeToc({150, 15363, 32314}, 46592);
  const DiscToc from3 = MakeToc({150, 15363, 32314}, 46592, {}, 3);
  const auto mb = MusicBrainzTocOf(from3);
  ASSERT_TRUE(mb);
  EXPECT_EQ(MusicBrainzTocParameter(*mb), "3+5+46592+150+15363+32314");
  EXPECT_NE(IdOf(from1), IdOf(from3));
  EXPECT_EQ(IdOf(from3).size(), 28u);
}

TEST(MusicBrainzDiscId, NoAudioTrackNoIdentifier) {
  EXPECT_FALSE(MusicBrainzTocOf(MakeToc({150}, 5000, {true})));
  EXPECT_FALSE(MusicBrainzTocOf(DiscToc{}));
  // More tracks than the identifier has slots for.
  EXPECT_FALSE(MusicBrainzTocOf(MakeToc({150, 300}, 5000, {}, 99)));
}

}  // namespace
}  // namespace sonarvex
