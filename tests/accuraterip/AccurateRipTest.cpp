// The AccurateRip identifiers against published values of real discs, the
// checksums against a separate computation in Python, the entry parser and
// the verdicts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "accuraterip/AccurateRip.h"

namespace sonarvex {
namespace {

// Track starts given as in the published examples (LBA + 150) and turned
// into the program's addresses.
ArToc TocFrom(std::vector<std::int32_t> startsPlus150, std::int32_t leadOutPlus150,
              std::vector<bool> audio = {}) {
  ArToc toc;
  for (std::size_t i = 0; i < startsPlus150.size(); ++i)
    toc.tracks.push_back({startsPlus150[i] - 150, audio.empty() ? true : audio[i]});
  toc.leadOut = leadOutPlus150 - 150;
  return toc;
}

std::string Name(const ArDiscIds& ids) {
  const std::string path = ArEntryPath(ids);
  return path.substr(path.rfind('/') + 1);
}

const std::vector<std::int32_t> kTenTracks = {150,    12767,  40487,  63225,  93410,
                                              118115, 151865, 184340, 215260, 247455};

TEST(ArDiscIdsTest, AnAudioDisc) {
  const ArDiscIds ids = ComputeArDiscIds(TocFrom(kTenTracks, 270335));
  EXPECT_EQ(Name(ids), "dBAR-010-00154c2f-00af4fd4-890e120a.bin");
  EXPECT_EQ(ArEntryPath(ids), "/accuraterip/f/2/c/dBAR-010-00154c2f-00af4fd4-890e120a.bin");
}

TEST(ArDiscIdsTest, AnEnhancedCdCountsItsAudioTracksWithTheDiscsLeadOut) {
  auto starts = kTenTracks;
  starts.push_back(281735);  // the data track of the second session
  std::vector<bool> audio(11, true);
  audio[10] = false;
  const ArDiscIds ids = ComputeArDiscIds(TocFrom(starts, 333801, audio));
  EXPECT_EQ(Name(ids), "dBAR-010-00164419-00b9f6e2-9e11600b.bin");
  EXPECT_EQ(ArEntryPath(ids), "/accuraterip/9/1/4/dBAR-010-00164419-00b9f6e2-9e11600b.bin");
  EXPECT_EQ(ArDiscName(ids), "dBAR-010-00164419-00b9f6e2-9e11600b");
}

TEST(ArDiscIdsTest, AMixedModeDiscLeavesItsDataTrackOut) {
  const std::vector<std::int32_t> starts = {
      150,    66728,  76502,  85963,  93760,  104048, 116066, 124743, 134206, 142916,
      151852, 160720, 169425, 178731, 188459, 196711, 206354, 214845, 223686, 225746,
      226384, 232668, 239447, 239931, 244989, 254264, 260066, 261222, 261674};
  std::vector<bool> audio(starts.size(), true);
  audio[0] = false;
  const ArToc toc = TocFrom(starts, 261976, audio);
  EXPECT_EQ(Name(ComputeArDiscIds(toc)), "dBAR-028-00517a54-05a845d2-af0da31d.bin");
  // The entry keeps the data track's place; the first audio track is the
  // first for the checksums.
  EXPECT_EQ(ArEntryIndex(toc, 1), 2);
  EXPECT_FALSE(IsFirstArTrack(toc, 0));
  EXPECT_TRUE(IsFirstArTrack(toc, 1));
  EXPECT_TRUE(IsLastArTrack(toc, 28));
  EXPECT_FALSE(IsLastArTrack(toc, 27));
}

// ---- Checksums ---------------------------------------------------------------

bool HavePython() {
  return std::system("python3 -c 'pass' >/dev/null 2>&1") == 0;
}

// The checksums of every track of a raw image, computed by Python from the
// description of the format: position k counts from 1 in each track, the
// first track starts counting values at k = 5*588, the last stops at
// k = length - 5*588; v1 adds the low 32 bits of value*k, v2 the low and
// high halves.
std::vector<std::pair<std::uint32_t, std::uint32_t>> PythonChecksums(
    const std::string& raw, const std::vector<std::size_t>& trackSamples) {
  std::ostringstream lengths;
  for (std::size_t n : trackSamples) lengths << n << ",";
  const std::string script =
      "import struct,sys\n"
      "data=open(sys.argv[1],'rb').read()\n"
      "lengths=[" + lengths.str() + "]\n"
      "pos=0\n"
      "for t,n in enumerate(lengths):\n"
      "  v1=0;v2=0\n"
      "  lo=5*588 if t==0 else 1\n"
      "  hi=n-5*588 if t==len(lengths)-1 else n\n"
      "  vals=struct.unpack('<%dI'%n,data[pos*4:(pos+n)*4])\n"
      "  for k in range(1,n+1):\n"
      "    if lo<=k<=hi:\n"
      "      p=vals[k-1]*k\n"
      "      v1=(v1+p)%(1<<32)\n"
      "      v2=(v2+(p>>32)+(p&0xffffffff))%(1<<32)\n"
      "  pos+=n\n"
      "  print('%08x %08x'%(v1,v2))\n";
  const std::string scriptPath = raw + ".py";
  std::ofstream(scriptPath) << script;
  std::FILE* pipe = ::popen(("python3 " + scriptPath + " " + raw).c_str(), "r");
  std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
  unsigned a = 0, b = 0;
  while (pipe && std::fscanf(pipe, "%x %x", &a, &b) == 2) out.emplace_back(a, b);
  if (pipe) ::pclose(pipe);
  return out;
}

TEST(ArChecksumTest, AgreesWithASeparateComputationForEveryTrackPosition) {
  if (!HavePython()) GTEST_SKIP() << "python3 is not installed";
  // Three tracks of 13, 9 and 11 sectors of loud noise (products overflow 32 bits).
  const std::vector<std::size_t> samples = {13 * 588, 9 * 588, 11 * 588};
  std::mt19937 rng(7);
  std::vector<std::uint8_t> audio;
  for (std::size_t n : samples)
    for (std::size_t i = 0; i < n * 4; ++i) audio.push_back(static_cast<std::uint8_t>(rng()));
  char dir[] = "/tmp/sonarvex-ar-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string raw = std::string(dir) + "/disc.raw";
  std::ofstream(raw, std::ios::binary).write(reinterpret_cast<const char*>(audio.data()),
                                             static_cast<std::streamsize>(audio.size()));
  const auto expected = PythonChecksums(raw, samples);
  ASSERT_EQ(expected.size(), 3u);

  std::size_t at = 0;
  for (std::size_t t = 0; t < samples.size(); ++t) {
    const std::size_t bytes = samples[t] * 4;
    // Whole, and in pieces that split samples.
    ArChecksum whole(samples[t], t == 0, t == samples.size() - 1);
    whole.Add(&audio[at], bytes);
    ArChecksum pieces(samples[t], t == 0, t == samples.size() - 1);
    for (std::size_t done = 0, step = 3; done < bytes; step = step * 7 % 2049 + 1) {
      const std::size_t n = std::min(step, bytes - done);
      pieces.Add(&audio[at + done], n);
      done += n;
    }
    EXPECT_EQ(ArHex(whole.V1()), ArHex(expected[t].first)) << "track " << t + 1;
    EXPECT_EQ(ArHex(whole.V2()), ArHex(expected[t].second)) << "track " << t + 1;
    EXPECT_EQ(pieces.V1(), whole.V1());
    EXPECT_EQ(pieces.V2(), whole.V2());
    EXPECT_EQ(whole.SamplesSeen(), samples[t]);
    at += bytes;
  }
  std::system(("rm -rf " + std::string(dir)).c_str());
}

TEST(ArChecksumTest, SmallCasesByHand) {
  // One sample of value 2 at position 1 of a middle track: v1 = v2 = 2.
  const std::uint8_t two[4] = {2, 0, 0, 0};
  ArChecksum middle(1, false, false);
  middle.Add(two, 4);
  EXPECT_EQ(middle.V1(), 2u);
  EXPECT_EQ(middle.V2(), 2u);
  // 0xFFFFFFFF at position 2: product 0x1FFFFFFFE; v1 = 0xFFFFFFFE,
  // v2 = 0xFFFFFFFE + 1 = 0xFFFFFFFF.
  const std::uint8_t ones[8] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  ArChecksum overflow(2, false, false);
  overflow.Add(ones, 8);
  EXPECT_EQ(overflow.V1(), 0xFFFFFFFEu);
  EXPECT_EQ(overflow.V2(), 0xFFFFFFFFu);
  // A first track ignores what comes before position 2940.
  std::vector<std::uint8_t> first(2940 * 4, 0);
  first[2938 * 4] = 1;  // position 2939: left out
  first[2939 * 4] = 1;  // position 2940: counted
  ArChecksum head(2940, true, false);
  head.Add(first.data(), first.size());
  EXPECT_EQ(head.V1(), 2940u);
  // A last track shorter than five sectors has nothing to count.
  ArChecksum tiny(100, false, true);
  tiny.Add(first.data(), 400);
  EXPECT_EQ(tiny.V1(), 0u);
}

// ---- Entries and verdicts ----------------------------------------------------

void Put32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string Submission(const ArDiscIds& ids, const std::vector<ArTrackValue>& tracks) {
  std::string s(1, static_cast<char>(tracks.size()));
  Put32(s, ids.id1);
  Put32(s, ids.id2);
  Put32(s, ids.cddb);
  for (const ArTrackValue& t : tracks) {
    s.push_back(static_cast<char>(t.confidence));
    Put32(s, t.crc);
    Put32(s, t.frame450Crc);
  }
  return s;
}

TEST(ArEntryTest, EverySubmissionIsReadAndTruncationIsRefused) {
  const ArDiscIds disc{3, 0x11223344, 0x55667788, 0x0a0b0c03};
  const std::string bytes = Submission(disc, {{5, 0xAABBCCDD, 1}, {200, 2, 3}, {0, 0, 0}}) +
                            Submission(disc, {{1, 7, 8}, {2, 9, 10}, {3, 11, 12}});
  std::vector<ArSubmission> entry;
  std::string why;
  ASSERT_TRUE(ParseArEntry(bytes, entry, &why)) << why;
  ASSERT_EQ(entry.size(), 2u);
  EXPECT_EQ(entry[0].ids.id1, 0x11223344u);
  EXPECT_EQ(entry[0].ids.id2, 0x55667788u);
  EXPECT_EQ(entry[0].ids.cddb, 0x0a0b0c03u);
  EXPECT_EQ(entry[0].tracks[0].crc, 0xAABBCCDDu);
  EXPECT_EQ(entry[0].tracks[1].confidence, 200);
  EXPECT_EQ(entry[1].tracks[2].frame450Crc, 12u);

  for (std::size_t cut : {std::size_t{0}, std::size_t{5}, std::size_t{13}, bytes.size() - 1}) {
    std::vector<ArSubmission> partial{ArSubmission{}};
    EXPECT_FALSE(ParseArEntry(std::string_view(bytes).substr(0, cut), partial, &why)) << cut;
    EXPECT_TRUE(partial.empty());
    EXPECT_FALSE(why.empty());
  }
}

TEST(ArEntryTest, VerdictsPerTrack) {
  const ArDiscIds disc{3, 1, 2, 3};
  const ArDiscIds other{3, 1, 2, 4};
  std::vector<ArSubmission> entry;
  ASSERT_TRUE(ParseArEntry(Submission(disc, {{12, 0x100, 0}, {4, 0x200, 0}, {0, 0, 0}}) +
                               Submission(disc, {{3, 0x101, 0}, {0, 0, 0}, {0, 0, 0}}) +
                               Submission(other, {{90, 0x300, 0}, {90, 0x300, 0}, {90, 0x300, 0}}),
                           entry, nullptr));
  // v1 matches one submission, v2 the other: their confidences add up.
  ArVerdict v = VerifyArTrack(entry, disc, 1, 0x100, 0x101);
  EXPECT_EQ(v.status, ArStatus::Match);
  EXPECT_EQ(v.confidence, 15);
  EXPECT_EQ(ArVerdictText(v), "точно (достоверность 15)");
  EXPECT_EQ(ArVerdictWord(v), "match 15");
  v = VerifyArTrack(entry, disc, 2, 0x999, 0x998);
  EXPECT_EQ(v.status, ArStatus::Mismatch);
  EXPECT_EQ(ArVerdictText(v), "не совпадает");
  EXPECT_EQ(ArVerdictWord(v), "mismatch");
  // Only zero confidences (and another disc's values) for track 3: absent.
  v = VerifyArTrack(entry, disc, 3, 0x300, 0x300);
  EXPECT_EQ(v.status, ArStatus::Absent);
  EXPECT_EQ(ArVerdictText(v), "нет в базе");
  EXPECT_EQ(ArVerdictWord(v), "absent");
  EXPECT_EQ(VerifyArTrack(entry, disc, 4, 0x100, 0x100).status, ArStatus::Absent);
  EXPECT_EQ(VerifyArTrack(entry, disc, 0, 0x100, 0x100).status, ArStatus::Absent);
  EXPECT_EQ(VerifyArTrack({}, disc, 1, 0x100, 0x100).status, ArStatus::Absent);
  EXPECT_EQ(ArHex(0xAB), "000000ab");
}


TEST(ArEntryTest, AMixedModeDiscsEntryKeepsTheDataTracksPlace) {
  // The database's answer for a published mixed-mode disc (data track 1,
  // audio tracks 2..29; its identifiers are checked above): 28 values, the
  // first the data track's empty one, so each audio track's value stands at
  // its place in the table and the last audio track has none. Values as
  // published by the ARver project (github.com/arcctgx/ARver,
  // doc/data_track.md, commit 98d7e94; GPL-3.0): v1 only, confidence 1, 0
  // for the empty slots.
  const std::vector<std::uint32_t> crcs = {
      0x00000000, 0xf7372315, 0x953b5f00, 0x7cc9a20d, 0x83f58407, 0x33754ce7, 0xefe4fc28,
      0xbd1fe2a7, 0xa1ff10c6, 0xa84d3b16, 0x00a31f62, 0x4c856e88, 0xec88131e, 0x7e72262f,
      0x5c5b588f, 0x62a24ed2, 0xbc6ef90f, 0x026de5e6, 0x982fddd8, 0x2a2734ed, 0x4dabe6e0,
      0x0083e0c8, 0x00000000, 0x060d3d73, 0x75c6048b, 0xdd6ee61a, 0xe5ecb215, 0x00000000};
  const ArDiscIds disc{28, 0x00517a54, 0x05a845d2, 0xaf0da31d};
  std::vector<ArTrackValue> values;
  for (std::uint32_t crc : crcs) values.push_back({static_cast<std::uint8_t>(crc ? 1 : 0), crc, 0});
  std::vector<ArSubmission> entry;
  ASSERT_TRUE(ParseArEntry(Submission(disc, values), entry, nullptr));

  std::vector<std::int32_t> starts(29);
  for (int i = 0; i < 29; ++i) starts[static_cast<std::size_t>(i)] = 150 + 1000 * i;
  std::vector<bool> audio(29, true);
  audio[0] = false;
  const ArToc toc = TocFrom(starts, 150 + 29000, audio);
  // Audio track 2 (the first) and 3 find their own values, not their
  // neighbours'.
  EXPECT_EQ(VerifyArTrack(entry, disc, ArEntryIndex(toc, 1), 0xf7372315, 0).status, ArStatus::Match);
  EXPECT_EQ(VerifyArTrack(entry, disc, ArEntryIndex(toc, 2), 0x953b5f00, 0).status, ArStatus::Match);
  EXPECT_EQ(VerifyArTrack(entry, disc, ArEntryIndex(toc, 2), 0xf7372315, 0).status, ArStatus::Mismatch);
  EXPECT_EQ(VerifyArTrack(entry, disc, ArEntryIndex(toc, 26), 0xe5ecb215, 0).status, ArStatus::Match);
  // The last audio track has no place in the answer: absent, never a
  // mismatch.
  EXPECT_EQ(VerifyArTrack(entry, disc, ArEntryIndex(toc, 28), 0x12345678, 0).status, ArStatus::Absent);
}

}  // namespace
}  // namespace sonarvex
