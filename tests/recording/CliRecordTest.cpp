// sonarvex-cli burn and blank on software recorders declared in
// setting/vdrives.lst: the written image read back by cd-paranoia and
// cd-info, test writes, a complete CD-R refusing a second burn, a CD-RW
// blanked and written again, the checks before writing, usage errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/CliRecord.h"
#include "session/Session.h"
#include "platform/ConsoleDialogs.h"
#include "platform/Files.h"
#include "platform/Shell.h"
#include "records/SettingsRecord.h"
#include "recording/Compilation.h"
#include "tests/recording/RecordingRig.h"
#include "tests/session/TestSession.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;

class CliRecordTest : public testing::Test {
 protected:
  void SetUp() override {
    home_ = test::MakeHome(dir_.Path());
    cdr_ = dir_.File("cdr.cue");
    cdrw_ = dir_.File("cdrw.cue");
    // --drive N is the number `drives` prints: 0 is the CD-R, 1 the CD-RW.
    WriteFileAtomically(home_ + "setting/vdrives.lst", "burn:" + cdr_ + "\nburnrw:" + cdrw_ + "\n");
    StartSession();
  }
  void StartSession() {
    session_.reset();
    session_ = test::OpenSession(home_, dialogs_);
  }
  int Burn(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return RunBurnCommand(*session_, args, out_, err_);
  }
  int Blank(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return RunBlankCommand(*session_, args, out_, err_);
  }
  std::string Wav(const std::string& name, int seed, std::size_t bytes) {
    audio_[name] = test::ToneAudio(seed, bytes);
    return test::WriteCdWav(dir_.File(name), audio_[name]);
  }

  test::TempDir dir_;
  std::string home_, cdr_, cdrw_;
  ConsoleDialogs dialogs_;
  std::unique_ptr<Session> session_;
  std::ostringstream out_, err_;
  std::map<std::string, std::vector<std::uint8_t>> audio_;
};

TEST_F(CliRecordTest, BurnedFilesReadBackByCdParanoiaAndCdInfo) {
  const std::string paranoia = FindInPath("cd-paranoia"), cdInfo = FindInPath("cd-info");
  if (paranoia.empty() || cdInfo.empty()) GTEST_SKIP() << "cd-paranoia or cd-info is not installed";
  // Lengths that are not whole sectors: the rest of the last sector is cut.
  const auto a = Wav("a.wav", 1, 300 * 2352 + 1000);
  const auto b = Wav("b.wav", 2, 451 * 2352);
  const auto c = Wav("c.wav", 3, 120 * 2352 + 2);
  ASSERT_EQ(Burn({"--drive", "0", a, b, c}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "1\ta.wav\n2\tb.wav\n3\tc.wav\n");
  EXPECT_NE(err_.str().find("Запись диска ..."), std::string::npos);
  EXPECT_NE(err_.str().find("Трек 2 - b.wav"), std::string::npos);

  {
    auto bin = ReadFileBytes(BinPathForCue(cdr_));
    ASSERT_TRUE(bin);
    const auto& wa = audio_["a.wav"];
    EXPECT_EQ(std::memcmp(bin->data(), wa.data(), 300 * 2352), 0) << "bin differs from a.wav";
  }
  const std::vector<std::pair<std::string, int>> tracks = {{"a.wav", 300}, {"b.wav", 451}, {"c.wav", 120}};
  for (std::size_t k = 0; k < tracks.size(); ++k) {
    SCOPED_TRACE(k + 1);
    const std::string raw = dir_.File("r" + std::to_string(k + 1) + ".raw");
    ASSERT_EQ(RunProgram({paranoia, "-q", "-d", cdr_, "-r", std::to_string(k + 1), raw}), 0);
    auto got = ReadFileBytes(raw);
    ASSERT_TRUE(got);
    const auto& want = audio_[tracks[k].first];
    const std::size_t bytes = static_cast<std::size_t>(tracks[k].second) * 2352;
    ASSERT_EQ(got->size(), bytes);
    EXPECT_EQ(std::memcmp(got->data(), want.data(), bytes), 0);
  }
  const std::string toc = dir_.File("toc.txt");
  ASSERT_EQ(RunProgram({"/bin/sh", "-c", "\"$0\" --no-device-info -A --cue-file \"$1\" > \"$2\" 2>/dev/null", cdInfo, cdr_, toc}), 0);
  auto text = ReadFileBytes(toc);
  ASSERT_TRUE(text);
  // Where the cue sheet put them: 0, 300, 751, lead-out 871 (+150 in MSF).
  EXPECT_NE(text->find("  1: 00:02:00  000000 audio"), std::string::npos) << *text;
  EXPECT_NE(text->find("  2: 00:06:00  000300 audio"), std::string::npos) << *text;
  EXPECT_NE(text->find("  3: 00:12:01  000751 audio"), std::string::npos) << *text;
  EXPECT_NE(text->find("170: 00:13:46  000871 leadout"), std::string::npos) << *text;
}

TEST_F(CliRecordTest, TestWriteLeavesTheDiscBlank) {
  const auto a = Wav("a.wav", 1, 100 * 2352);
  ASSERT_EQ(Burn({"--test", a}), 0) << err_.str();
  EXPECT_NE(err_.str().find("Тестовая запись ..."), std::string::npos);
  EXPECT_FALSE(FileExists(cdr_));
  EXPECT_TRUE(fs::is_empty(dir_.Path() + "/home/setting") == false);
  ASSERT_EQ(Burn({a}), 0) << err_.str();  // still blank: a real write follows
  EXPECT_TRUE(FileExists(cdr_));
}

TEST_F(CliRecordTest, WrittenCdrRefusesASecondBurnAndKeepsItsImage) {
  const auto a = Wav("a.wav", 1, 100 * 2352);
  const auto b = Wav("b.wav", 2, 50 * 2352);
  ASSERT_EQ(Burn({a}), 0) << err_.str();
  const auto image = ReadFileBytes(BinPathForCue(cdr_));
  StartSession();  // a new start finds the disc written
  EXPECT_EQ(Burn({b}), 1);
  EXPECT_NE(err_.str().find("Вставьте чистый CD-R/RW диск."), std::string::npos) << err_.str();
  EXPECT_EQ(ReadFileBytes(BinPathForCue(cdr_)), image);
  EXPECT_EQ(Blank({"--drive", "0"}), 1);
  EXPECT_NE(err_.str().find("только CD-RW"), std::string::npos) << err_.str();
}

TEST_F(CliRecordTest, CdrwIsBlankedAndWrittenAgain) {
  const auto a = Wav("a.wav", 1, 100 * 2352);
  const auto b = Wav("b.wav", 2, 60 * 2352);
  ASSERT_EQ(Burn({"--drive", "1", a}), 0) << err_.str();
  EXPECT_EQ(Burn({"--drive", "1", b}), 1);
  EXPECT_NE(err_.str().find("sonarvex-cli blank"), std::string::npos) << err_.str();
  ASSERT_EQ(Blank({"--drive", "1"}), 0) << err_.str();
  EXPECT_FALSE(FileExists(cdrw_));
  ASSERT_EQ(Burn({"--drive", "1", b}), 0) << err_.str();
  auto bin = ReadFileBytes(BinPathForCue(cdrw_));
  ASSERT_TRUE(bin);
  EXPECT_EQ(bin->size(), 60u * 2352);
  ASSERT_EQ(Blank({"--drive", "1", "--full"}), 0) << err_.str();
}

TEST_F(CliRecordTest, ChecksBeforeWriting) {
  EXPECT_EQ(Burn({}), 2);
  EXPECT_NE(err_.str().find("Добавьте файлы для записи!!!"), std::string::npos);
  EXPECT_EQ(Burn({"--bogus", "x.wav"}), 2);
  EXPECT_EQ(Burn({"--speed", "0", "x.wav"}), 2);
  // A number no drive has is no usage error: the drives may change.
  EXPECT_EQ(Burn({"--drive", "5", "x.wav"}), 1);
  EXPECT_NE(err_.str().find("Нет привода с номером 5"), std::string::npos) << err_.str();
  EXPECT_EQ(Blank({"extra"}), 2);
  // A file that is not audio is refused, nothing is written.
  const std::string text = dir_.File("notes.wav");
  WriteFileAtomically(text, "not a wave file at all");
  EXPECT_EQ(Burn({text}), 1);
  EXPECT_NE(err_.str().find("notes.wav"), std::string::npos);
  EXPECT_FALSE(FileExists(cdr_));
}

TEST_F(CliRecordTest, OverSeventyNineMinutesNeedsOverburn) {
  // A header claiming 79 minutes of data over a short file: the length check
  // comes before any drive work.
  const auto a = Wav("long.wav", 1, 2352);
  auto bytes = *ReadFileBytes(a);
  const std::uint32_t claimed = 79u * 4500 * 2352;
  const auto at = bytes.find("data");
  ASSERT_NE(at, std::string::npos);
  std::memcpy(&bytes[at + 4], &claimed, 4);
  WriteFileAtomically(a, bytes);
  EXPECT_EQ(Burn({a}), 1);
  EXPECT_NE(err_.str().find("Общее время не должно превышать 79 минут!!!"), std::string::npos) << err_.str();
  EXPECT_FALSE(FileExists(cdr_));
}

TEST_F(CliRecordTest, A22kHzFileIsConvertedFirst) {
  const std::string low = dir_.File("low.wav");
  test::WriteWav(low, test::Tone(22050, 2, 22050), MakePcmFormat(22050, 2));
  ASSERT_EQ(Burn({low}), 0) << err_.str();
  auto bin = ReadFileBytes(BinPathForCue(cdr_));
  ASSERT_TRUE(bin);
  EXPECT_NEAR(static_cast<double>(bin->size()), 176400.0, 2352.0);
  EXPECT_FALSE(fs::exists(home_ + "WCDDATF"));  // converted files are removed afterwards
}

TEST(CliRecordNoWriter, SaysThereIsNothingToWriteWith) {
  test::TempDir dir;
  ConsoleDialogs dialogs;
  const auto session = test::OpenSession(test::MakeHome(dir.Path()), dialogs);
  std::ostringstream out, err;
  EXPECT_EQ(RunBurnCommand(*session, {"a.wav"}, out, err), 1);
  EXPECT_NE(err.str().find("К сожалению диски записывать нечем... :("), std::string::npos) << err.str();
}

}  // namespace
}  // namespace sonarvex

namespace sonarvex {
namespace {

// burn reads every track back after writing it and compares it with what
// was sent: a disc that reads back different is a failure naming the track
// and where it differs; --no-verify and Write.Verify=0 leave the step out.
TEST_F(CliRecordTest, BurnVerifiesTheDiscAndFailsOnATrackThatReadsBackDifferent) {
  const auto a = Wav("a.wav", 1, 100 * 2352);
  const auto b = Wav("b.wav", 2, 200 * 2352);
  ASSERT_EQ(Burn({"--drive", "0", a, b}), 0) << err_.str();
  EXPECT_NE(err_.str().find("Проверка записи: все дорожки совпадают"), std::string::npos) << err_.str();

  // The CD-R reads sector 175 wrong (track 2's 75th sector: 00:01.00).
  fs::remove(cdr_);
  fs::remove(BinPathForCue(cdr_));
  WriteFileAtomically(home_ + "setting/vdrives.lst", "corrupt=175 burn:" + cdr_ + "\nburnrw:" + cdrw_ + "\n");
  StartSession();
  EXPECT_EQ(Burn({"--drive", "0", a, b}), 1) << err_.str();
  EXPECT_EQ(out_.str(), "1\ta.wav\n2\tb.wav\n");  // both written
  EXPECT_NE(err_.str().find("Дорожка 2 отличается от источника с позиции 00:01.00"), std::string::npos)
      << err_.str();

  fs::remove(cdr_);
  fs::remove(BinPathForCue(cdr_));
  StartSession();  // a blank CD-R again
  EXPECT_EQ(Burn({"--drive", "0", "--no-verify", a, b}), 0) << err_.str();
  EXPECT_EQ(err_.str().find("Проверка записи"), std::string::npos) << err_.str();

  // Switched off in the settings; --verify switches it on again.
  ASSERT_TRUE(session_->ChangeOptions([](ProgramOptions& o) { o.WriteVerify = false; }));
  fs::remove(cdr_);
  fs::remove(BinPathForCue(cdr_));
  StartSession();  // a blank CD-R again
  EXPECT_EQ(Burn({"--drive", "0", a, b}), 0) << err_.str();
  EXPECT_EQ(err_.str().find("Проверка записи"), std::string::npos) << err_.str();
  fs::remove(cdr_);
  fs::remove(BinPathForCue(cdr_));
  StartSession();  // a blank CD-R again
  EXPECT_EQ(Burn({"--drive", "0", "--verify", a, b}), 1) << err_.str();
  EXPECT_NE(err_.str().find("Дорожка 2 отличается от источника с позиции 00:01.00"), std::string::npos);
}

}  // namespace
}  // namespace sonarvex
