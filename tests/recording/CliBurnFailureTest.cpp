// sonarvex-cli burn when the disc cannot be written whole: a source without
// audio named before the drive starts, a failing write and a blank too small
// (both declared on the recorder's vdrives.lst line), an image whose file
// system fills up, and the built program stopped by SIGINT while it writes.
// Each leaves the disc open, names the failure once and names no track that
// was not written whole.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "cli/CliRecord.h"
#include "session/Session.h"
#include "platform/ConsoleDialogs.h"
#include "platform/Files.h"
#include "recording/Recorder.h"
#include "recording/TWriteThread.h"
#include "tests/rip/SmallDisk.h"
#include "tests/cli/CliRunner.h"
#include "tests/recording/RecordingRig.h"
#include "tests/session/TestSession.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class CliBurnFailureTest : public testing::Test {
 protected:
  void SetUp() override {
    home_ = test::MakeHome(dir_.Path());
    cdr_ = dir_.File("cdr.cue");
  }
  // The recorder's line in vdrives.lst: options, then "burn:" and the image.
  void Declare(const std::string& options, const std::string& cue) { test::DeclareRecorder(home_, cue, options); }
  int Burn(std::vector<std::string> args) {
    ConsoleDialogs dialogs;
    const auto session = test::OpenSession(home_, dialogs);
    out_.str("");
    err_.str("");
    return RunBurnCommand(*session, args, out_, err_);
  }
  std::string Wav(const std::string& name, int sectors) {
    return test::WriteCdWav(dir_.File(name), test::ToneAudio(1, static_cast<std::size_t>(sectors) * 2352));
  }
  void ExpectNoImage(const std::string& cue) {
    EXPECT_FALSE(FileExists(cue));
    EXPECT_FALSE(FileExists(BinPathForCue(cue)));
    EXPECT_FALSE(FileExists(BinPathForCue(cue) + ".part"));
  }

  test::TempDir dir_;
  std::string home_, cdr_;
  std::ostringstream out_, err_;
};

TEST_F(CliBurnFailureTest, AWavWithoutAudioIsNamedBeforeTheDriveStarts) {
  Declare("", cdr_);
  const auto good = Wav("good.wav", 100);
  // A header promising a minute, and nothing after it.
  const std::string empty = dir_.File("header only.wav");
  {
    auto bytes = *ReadFileBytes(Wav("header only.wav", 1));
    bytes.resize(bytes.find("data") + 8);
    const std::uint32_t claimed = 4500u * 2352;
    std::memcpy(&bytes[bytes.size() - 4], &claimed, 4);
    WriteFileAtomically(empty, bytes);
  }
  EXPECT_EQ(Burn({good, empty}), 1);
  const std::string said = "Невозможно записать файл '" + empty + "': в нём нет звука, хотя заголовок его обещает.";
  EXPECT_EQ(Occurrences(err_.str(), said), 1u) << err_.str();
  // No lead-in was spent, no count of errors stands for the reason.
  EXPECT_EQ(err_.str().find(kLeadInStatus), std::string::npos) << err_.str();
  EXPECT_EQ(err_.str().find("Запись диска ..."), std::string::npos) << err_.str();
  EXPECT_EQ(err_.str().find("Ошибок записи"), std::string::npos) << err_.str();
  EXPECT_EQ(out_.str(), "");
  ExpectNoImage(cdr_);
  // The disc is still blank: the good file alone is written.
  EXPECT_EQ(Burn({good}), 0) << err_.str();
  EXPECT_TRUE(FileExists(cdr_));
}

TEST_F(CliBurnFailureTest, AFailingWriteFromTheListStopsTheDiscAndNamesTheSectors) {
  // Track 2 starts at 100; with 15 sectors a write, the write of 115..129 fails.
  Declare("fail-write=120 ", cdr_);
  const auto a = Wav("a.wav", 100);
  const auto b = Wav("b.wav", 100);
  const auto c = Wav("c.wav", 100);
  EXPECT_EQ(Burn({a, b, c}), 1);
  EXPECT_EQ(out_.str(), "1\ta.wav\n");  // track 2 was not written whole
  const std::string said = "Запись диска не завершена: трек 2, файл '" + b +
                           "': привод не записал секторы 115–129: ошибка записи. Сессия диска не закрыта.";
  EXPECT_EQ(Occurrences(err_.str(), said), 1u) << err_.str();
  EXPECT_EQ(err_.str().find("Ошибок записи"), std::string::npos) << err_.str();
  EXPECT_EQ(err_.str().find(kLeadOutStatus), std::string::npos) << err_.str();
  EXPECT_EQ(err_.str().find("Диск записан"), std::string::npos) << err_.str();
  ExpectNoImage(cdr_);
}

TEST_F(CliBurnFailureTest, WritingBeyondWhatTheBlankHoldsIsRefusedAndSaidSo) {
  // A blank whose lead-out starts at 00:05:00 at the latest: 225 sectors
  // after track 1's pregap. Eight seconds of audio do not fit.
  Declare("capacity=00:05:00 ", cdr_);
  const auto a = Wav("a.wav", 600);
  EXPECT_EQ(Burn({a}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(Occurrences(err_.str(), "сектор за пределами диска (диск заполнен). Сессия диска не закрыта."), 1u)
      << err_.str();
  EXPECT_EQ(err_.str().find("Диск записан"), std::string::npos) << err_.str();
  ExpectNoImage(cdr_);
}

TEST_F(CliBurnFailureTest, AnImageWhoseFileSystemFillsUpNamesTheReasonOnce) {
  const std::string small = dir_.File("small");
  fs::create_directories(small);
  const std::string cue = small + "/disc.cue";
  Declare("", cue);
  const auto a = Wav("a.wav", 300);  // 700 KB into 256 KiB
  test::ChildReport r = test::RunWithSmallDisk(small, 256 * 1024, [&]() -> std::string {
    const int code = Burn({a});
    std::string err = err_.str();
    for (char& ch : err)
      if (ch == '\n') ch = '|';
    const std::string bin = BinPathForCue(cue);
    const bool image = FileExists(cue) || FileExists(bin) || FileExists(bin + ".part");
    return "code=" + std::to_string(code) + "\nout=" + out_.str() + "\nerr=" + err +
           "\nimage=" + (image ? "yes" : "no") + "\n";
  });
  if (r.Get("mode") == "none") GTEST_SKIP() << "neither a tmpfs nor a file size limit could be set up";
  EXPECT_EQ(r.Get("code"), "1");
  EXPECT_EQ(r.Get("out"), "");
  const std::string err = r.Get("err");
  const std::string reason = r.Get("mode") == "tmpfs" ? std::strerror(ENOSPC) : std::strerror(EFBIG);
  EXPECT_EQ(Occurrences(err, reason), 1u) << err;
  EXPECT_EQ(Occurrences(err, "Запись диска не завершена: "), 1u) << err;
  EXPECT_EQ(err.find("Ошибок записи"), std::string::npos) << err;
  EXPECT_EQ(r.Get("image"), "no");
}

// The built program, stopped by SIGINT two seconds into writing a track of
// a minute at single speed.
TEST_F(CliBurnFailureTest, SigintWhileWritingLeavesTheDiscOpenAndNamesNoTrack) {
  const std::string exe = test::BuiltCli();
  ASSERT_FALSE(exe.empty());
  if (access(exe.c_str(), X_OK) != 0) GTEST_SKIP() << "sonarvex-cli is not built";
  Declare("", cdr_);
  const auto a = Wav("long.wav", 60 * 75);
  const std::string outFile = dir_.File("burn.out"), errFile = dir_.File("burn.err");
  const pid_t pid = test::StartProgram({exe, "--home", home_, "burn", "--speed", "1", a}, outFile, errFile);
  ASSERT_GT(pid, 0);
  // The signal goes once the track is being written (after the lead-in).
  const test::ChildWait wait = test::WaitUntil(
      pid,
      [&] {
        return ReadFileBytes(errFile).value_or("").find("Трек 1 - long.wav") != std::string::npos &&
               FileExists(BinPathForCue(cdr_) + ".part");
      },
      3000, 10000);
  if (wait == test::ChildWait::Ended) FAIL() << "finished before the signal: " << ReadFileBytes(errFile).value_or("");
  const bool writing = wait == test::ChildWait::Ready;
  ASSERT_TRUE(writing) << ReadFileBytes(errFile).value_or("");
  usleep(2000000);
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  const std::string err = ReadFileBytes(errFile).value_or("");
  ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself: " << err;
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT) << err;
  EXPECT_EQ(ReadFileBytes(outFile).value_or("?"), "");  // no track written
  const std::string said = "Запись прервана: сессия диска не закрыта\n";
  ASSERT_GE(err.size(), said.size()) << err;
  EXPECT_EQ(err.substr(err.size() - said.size()), said) << err;
  EXPECT_EQ(err.find(kLeadOutStatus), std::string::npos) << err;
  ExpectNoImage(cdr_);
}

}  // namespace
}  // namespace sonarvex
