// What every command of sonarvex-cli keeps to: every option settable with
// `settings`, the default rip format, names with folders and the new codes,
// one option grammar, one exit-code contract and one numbering of drives.
#include <dlfcn.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "LoopbackServer.h"
#include "drive/virtual/DemoDisc.h"
#include "platform/Files.h"
#include "records/SettingsRecord.h"
#include "records/TextFields.h"
#include "tests/cli/CliRunner.h"

namespace sonarvex {
namespace {

class CliContract : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-contract-XXXXXX";
    home_ = std::string(mkdtemp(tmpl)) + "/";
    std::string error;
    cue_ = WriteDemoDisc(home_ + "images", &error);
    ASSERT_FALSE(cue_.empty()) << error;
    MakeDirectories(home_ + "music");
    ASSERT_TRUE(test::WriteSettingsFile(home_, test::FirstProfile(home_ + "music/")));
  }
  void TearDown() override { std::filesystem::remove_all(home_); }

  int Run(std::vector<std::string> args) {
    std::vector<std::string> all = {"--home", home_, "--image", cue_};
    all.insert(all.end(), args.begin(), args.end());
    return test::RunCliIn(home_, all, out_, err_);
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  static bool FlacLibraryPresent() {
    void* h = dlopen("libFLAC.so.12", RTLD_NOW | RTLD_LOCAL);
    if (h != nullptr) dlclose(h);
    return h != nullptr;
  }

  std::string home_, cue_;
  std::ostringstream out_, err_;
};

TEST_F(CliContract, SettingsSetReachesTheIniOptionsAndAPlainRipTakesRipFormat) {
  ASSERT_EQ(Run({"settings", "set", "Rip.Format=flac", "flac.level=8", "Rip.Workers=2",
                 "ReadOffset.0=6", "AccurateRip.Server=ar.example:8080", "Rip.Secure=0",
                 "rip.securereads=5", "Opus.Bitrate=96", "Rip.HiddenTrack=0"}),
            0)
      << err_.str();
  const std::string ini = ReadFileBytes(home_ + "setting/sonarvex.ini").value_or("");
  EXPECT_NE(ini.find("Format=flac"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Level=8"), std::string::npos) << ini;
  ASSERT_EQ(Run({"settings", "show"}), 0) << err_.str();
  const std::string shown = out_.str();
  for (const char* line : {"\nRip.Format=flac\n", "\nFLAC.Level=8\n", "\nRip.Workers=2\n",
                           "\nReadOffset.0=6\n", "\nAccurateRip.Server=ar.example:8080\n",
                           "\nRip.Secure=0\n", "\nRip.SecureReads=5\n", "\nOpus.Bitrate=96\n",
                           "\nRip.HiddenTrack=0\n"})
    EXPECT_NE(shown.find(line), std::string::npos) << line << shown;
  // The dialog's checks; nothing written when one value is refused.
  const std::string before = ReadFileBytes(home_ + "setting/sonarvex.ini").value_or("");
  const std::string record = ReadFileBytes(home_ + "setting/set.dat").value_or("");
  for (std::vector<std::string> refused :
       {std::vector<std::string>{"ShowGrid=1", "FLAC.Level=9"}, {"Rip.Format=nope"},
        {"Rip.Workers=65"}, {"Rip.SecureReads=0"}, {"Rip.Secure=maybe"}, {"Opus.Bitrate=5"}, {"ReadOffset.0=6000"}, {"ReadOffset.7=1"},
        {"AccurateRip.Server=a b"}, {"Nothing.Here=1"}}) {
    std::vector<std::string> args = {"settings", "set"};
    args.insert(args.end(), refused.begin(), refused.end());
    EXPECT_EQ(Run(args), 1) << refused.back();
    EXPECT_NE(err_.str().find("Настройки не изменены."), std::string::npos) << err_.str();
  }
  EXPECT_EQ(ReadFileBytes(home_ + "setting/sonarvex.ini").value_or(""), before);
  EXPECT_EQ(ReadFileBytes(home_ + "setting/set.dat").value_or(""), record);

  if (!FlacLibraryPresent()) GTEST_SKIP() << "libFLAC.so.12 is not installed (Debian package libflac12)";
  ASSERT_EQ(Run({"settings", "set", "AccurateRip.Server="}), 0) << err_.str();
  ASSERT_EQ(Run({"rip", "--tracks", "1"}), 0) << err_.str();
  ASSERT_EQ(Lines().size(), 1u) << out_.str();
  const std::string path = Lines()[0].substr(2);
  EXPECT_EQ(path.substr(path.size() - 5), ".flac") << path;
  EXPECT_EQ(ReadFileBytes(path).value_or("").substr(0, 4), "fLaC");
  // --format still wins.
  ASSERT_EQ(Run({"rip", "--tracks", "2", "--format", "wav"}), 0) << err_.str();
  EXPECT_EQ(Lines().at(0).substr(Lines()[0].size() - 4), ".wav");
}

TEST_F(CliContract, NamesMakeFoldersWithSlashesAndTellWhatIsMissing) {
  test::LoopbackServer server(test::CddbAnswering(
      "rock", "Band / Record",
      "DYEAR=1997\r\nDGENRE=Rock\r\nTTITLE0=One\r\nTTITLE1=Two\r\nTTITLE2=Three\r\nTTITLE3=Four\r\n"
      "TTITLE4=Data\r\n"));
  ASSERT_EQ(Run({"settings", "set", "CddbHost=127.0.0.1:" + std::to_string(server.Port()),
                 "CddbPath=/~cddb/cddb.cgi"}),
            0)
      << err_.str();
  ASSERT_EQ(Run({"cddb"}), 0) << err_.str();
  ASSERT_EQ(Run({"rip", "--format", "wav", "--tracks", "2", "--name", "%A/%Y - %D/%N %T [%G] %d"}), 0)
      << err_.str();
  const std::string expected = home_ + "music/Band/1997 - Record/02 Two [Rock] 1.wav";
  EXPECT_EQ(Lines().at(0), "2\t" + expected);
  EXPECT_TRUE(FileExists(expected));
  // A backslash still makes a folder.
  ASSERT_EQ(Run({"rip", "--format", "wav", "--tracks", "3", "--name", "%A\\%N"}), 0) << err_.str();
  EXPECT_TRUE(FileExists(home_ + "music/Band/03.wav"));

  // A refused format says what is missing; usage-like refusals exit 2? No:
  // a value the settings refuse is a usage error of the option.
  for (const char* bad : {"foo", "%A/", "%T%"}) {
    EXPECT_EQ(Run({"rip", "--format", "wav", "--name", bad}), 2) << bad;
    EXPECT_NE(err_.str().find("Неверная сторока формата имени файлов. "), std::string::npos) << err_.str();
  }
  Run({"rip", "--format", "wav", "--name", "foo"});
  EXPECT_NE(err_.str().find("%T"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("%N"), std::string::npos) << err_.str();
  EXPECT_TRUE(out_.str().empty());
}

// A 44-byte header of CD audio (PCM, 2 channels, 44100 Hz, 16 bits).
std::string CdWavHeader(std::size_t bytes) {
  auto le = [](std::uint32_t v, int n) {
    std::string b;
    for (int k = 0; k < n; ++k) b += static_cast<char>((v >> (8 * k)) & 0xFF);
    return b;
  };
  return "RIFF" + le(static_cast<std::uint32_t>(36 + bytes), 4) + "WAVEfmt " + le(16, 4) + le(1, 2) +
         le(2, 2) + le(44100, 4) + le(176400, 4) + le(4, 2) + le(16, 2) + "data" +
         le(static_cast<std::uint32_t>(bytes), 4);
}

// How often `needle` stands in `text`.
int Count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

struct ContractCase {
  std::vector<std::string> args;
  int status;
  std::string said;  // a piece of the one error line
};

// Every command with a wrong option, a missing value, a drive number no
// drive has and a file that is not there: the exit code of the contract
// (2 usage, 1 failed) and the reason said once, in Russian.
TEST_F(CliContract, EveryCommandKeepsTheExitCodesAndSaysEachErrorOnce) {
  // A recorder beside the demo disc, so that burn and blank reach their files.
  WriteFileAtomically(home_ + "setting/vdrives.lst", "burn:" + home_ + "cdr.cue\n");
  const std::string missing = home_ + "missing";
  const std::vector<ContractCase> cases = {
      // A wrong option.
      {{"drives", "--bogus"}, 2, "Неизвестный параметр --bogus."},
      {{"toc", "--bogus"}, 2, "Неизвестный параметр --bogus."},
      {{"rip", "--bogus"}, 2, "Неизвестный параметр --bogus."},
      {{"cddb", "--bogus"}, 2, "Неизвестный параметр --bogus."},
      {{"lookup", "--bogus"}, 2, "Неизвестный параметр --bogus."},
      {{"settings", "show", "--bogus"}, 2, "Неизвестный параметр --bogus."},
      {{"play", "--bogus"}, 2, "Неизвестный параметр --bogus."},
      {{"convert", "--bogus"}, 2, "Неизвестный параметр --bogus."},
      {{"verify", "--bogus"}, 2, "Неизвестный параметр --bogus"},
      {{"burn", "--bogus"}, 2, "Неизвестный параметр --bogus"},
      {{"blank", "--bogus"}, 2, "Неизвестный параметр --bogus"},
      {{"offset", "--bogus"}, 2, "Неизвестный параметр --bogus."},
      {{"toc", "--overwrite=1"}, 2, "Параметр --overwrite не принимает значения."},
      // A missing value or argument.
      {{"drives", "--profile"}, 2, "Не указано значение --profile."},
      {{"toc", "--drive"}, 2, "Не указано значение --drive."},
      {{"rip", "--format"}, 2, "Не указано значение --format."},
      {{"cddb", "--match"}, 2, "Не указано значение --match."},
      {{"lookup", "--source"}, 2, "Не указано значение --source."},
      {{"settings", "set"}, 2, "settings set: укажите ПОЛЕ=ЗНАЧЕНИЕ."},
      {{"play", "--track"}, 2, "Не указано значение --track."},
      {{"convert", "--to"}, 2, "Не указано значение --to."},
      {{"verify"}, 2, "Не указан CUE-файл"},
      {{"burn", "--speed"}, 2, "Не указано значение --speed"},
      {{"blank", "--drive"}, 2, "Не указано значение --drive"},
      {{"offset", "set"}, 2, "offset: без аргументов, set СЭМПЛЫ"},
      {{"rip", "--drive", "1", "--name", "foo"}, 2, "Неверная сторока формата имени файлов."},
      {{"rip", "--drive", "1", "--format", "mp3", "--bitrate", "100"}, 2, "--bitrate 100"},
      {{"rip", "--bitrate", "500"}, 2, "--bitrate 500: MP3 пишется с битрейтом"},
      // A drive number no drive has: the drives may change, so it is a failure.
      {{"toc", "--drive", "9"}, 1, "Нет привода с номером 9"},
      {{"rip", "--drive", "9"}, 1, "Нет привода с номером 9"},
      {{"cddb", "--drive", "9"}, 1, "Нет привода с номером 9"},
      {{"lookup", "--drive", "9"}, 1, "Нет привода с номером 9"},
      {{"play", "--drive", "9", "--track", "1"}, 1, "Нет привода с номером 9"},
      {{"offset", "--drive", "9"}, 1, "Нет привода с номером 9"},
      {{"burn", "--drive", "9", cue_}, 1, "Нет привода с номером 9"},
      {{"blank", "--drive", "9"}, 1, "Нет привода с номером 9"},
      {{"burn", "--drive", "1", cue_}, 1, "не записывает диски"},  // the demo disc's drive
      // A file that is not there.
      {{"play", missing + ".mp3"}, 1, "'" + missing + ".mp3': файл не найден."},
      {{"convert", "--to", "wav", missing + ".mp3"}, 1, "'" + missing + ".mp3': файл не найден."},
      {{"verify", missing + ".cue"}, 1, "не проверен: нет файла"},
      {{"burn", missing + ".wav"}, 1, missing + ".wav"},
      {{"--image", missing + ".cue", "drives"}, 1, "Не удалось подключить образ диска"},
      {{"--image", missing + ".cue", "rip"}, 1, "Не удалось подключить образ диска"},
  };
  for (const ContractCase& c : cases) {
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    EXPECT_EQ(Run(c.args), c.status) << line << "\n" << err_.str();
    EXPECT_EQ(Count(err_.str(), c.said), 1) << line << "\n" << err_.str();
    EXPECT_EQ(err_.str().find("Input/output error"), std::string::npos) << line << err_.str();
    EXPECT_EQ(err_.str().find("No such file"), std::string::npos) << line << err_.str();
  }
}

// The program's own options stand before or after any command, as
// --opt value or --opt=value.
TEST_F(CliContract, GlobalOptionsAnywhereAndOptionValuesAfterAnEqualsSign) {
  // -q after convert: no progress, the result line only. The conversion
  // loads libkelpra.so from the program's folder.
  const std::string exe = test::BuiltCli();
  if (exe.empty() || access((exe.substr(0, exe.rfind('/') + 1) + "libkelpra.so").c_str(), R_OK) != 0)
    GTEST_SKIP() << "libkelpra.so is not built";
  std::filesystem::create_symlink(exe.substr(0, exe.rfind('/') + 1) + "libkelpra.so", home_ + "libkelpra.so");
  ASSERT_EQ(Run({"rip", "--format=wav", "--tracks=1", "--out=" + home_ + "src", "--name=in%N"}), 0) << out_.str()
      << err_.str();
  ASSERT_EQ(Run({"convert", "--to=wav", "-q", "--out", home_ + "conv", home_ + "src/in01.wav"}), 2)
      << err_.str();  // WAV to WAV is no conversion the window has
  ASSERT_EQ(Run({"convert", "--to=ogg", "-q", "--out=" + home_ + "conv", home_ + "src/in01.wav"}), 0)
      << err_.str();
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(out_.str(), home_ + "src/in01.wav\t" + home_ + "conv/in01.ogg\n");
  // Without -q and without a terminal: one line per finished file, no \r.
  ASSERT_EQ(Run({"convert", "--to", "mp3", "--out", home_ + "conv", home_ + "src/in01.wav"}), 0)
      << err_.str();
  EXPECT_EQ(err_.str().find('\r'), std::string::npos);
  EXPECT_EQ(err_.str(), home_ + "src/in01.wav: Готово\n");
  // --image and -v after burn are the program's, not the recorder's.
  WriteFileAtomically(home_ + "setting/vdrives.lst", "");
  ASSERT_EQ(Run({"burn", "--image", cue_, "-q", "--drive", "0", home_ + "src/in01.wav"}), 1);
  EXPECT_EQ(Count(err_.str(), "не записывает диски"), 1) << err_.str();
  // An --out refused by a later option is not made.
  EXPECT_EQ(Run({"rip", "--out", home_ + "never", "--name", "foo"}), 2);
  EXPECT_FALSE(DirectoryExists(home_ + "never"));
}

// drives: trimmed names, what each drive is and whether it writes; burn
// --drive N takes the same numbers.
TEST_F(CliContract, DrivesSaysWhatEachIsAndBurnTakesItsNumbers) {
  WriteFileAtomically(home_ + "setting/vdrives.lst", "burn:" + home_ + "cdr.cue\n");
  ASSERT_EQ(Run({"drives"}), 0) << err_.str();
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u) << out_.str();
  int recorder = -1;
  for (const std::string& l : lines) {
    std::vector<std::string> cols;
    std::istringstream in(l);
    for (std::string c; std::getline(in, c, '\t');) cols.push_back(c);
    ASSERT_EQ(cols.size(), 4u) << l;
    EXPECT_EQ(cols[2].front() != ' ' && cols[2].back() != ' ', true) << "'" << cols[2] << "'";
    if (cols[1] == "software-recorder") {
      EXPECT_EQ(cols[3], "writes");
      recorder = std::stoi(cols[0]);
    } else {
      EXPECT_EQ(cols[1], "software-drive");
      EXPECT_EQ(cols[3], "reads");
    }
  }
  ASSERT_GE(recorder, 0) << out_.str();
  // A short WAV onto the recorder by its number, a test write.
  ASSERT_EQ(Run({"rip", "--drive", std::to_string(1 - recorder), "--format", "wav", "--tracks", "1",
                 "--out", home_ + "src", "--name", "in%N"}),
            0)
      << err_.str();
  EXPECT_EQ(Run({"burn", "--test", "--drive", std::to_string(recorder), home_ + "src/in01.wav"}), 0)
      << err_.str();
  EXPECT_EQ(Run({"burn", "--test", "--drive", std::to_string(1 - recorder), home_ + "src/in01.wav"}), 1);
  EXPECT_EQ(Count(err_.str(), "не записывает диски"), 1) << err_.str();
}

// The built program: the ALSA library's own lines stay off standard error.
TEST_F(CliContract, TheSoundLibrarysOwnLinesStayOffTheTerminal) {
  const std::string exe = test::BuiltCli();
  if (exe.empty() || access(exe.c_str(), X_OK) != 0) GTEST_SKIP() << "sonarvex-cli is not built";
  const char* old = getenv("ALSA_CONFIG_PATH");
  const std::string saved = old ? old : "";
  setenv("ALSA_CONFIG_PATH", (home_ + "no-such-alsa.conf").c_str(), 1);
  const test::ChildRun r = test::RunProgramBounded(
      {exe, "--home", home_, "--image", cue_, "play", "--track", "1"}, 30, home_ + "p.out", home_ + "p.err");
  if (old) setenv("ALSA_CONFIG_PATH", saved.c_str(), 1); else unsetenv("ALSA_CONFIG_PATH");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err.find("ALSA lib"), std::string::npos) << r.err;
  EXPECT_EQ(Count(r.err, "\n"), 1) << r.err;  // the reason, once
}

// SIGINT or SIGTERM during a conversion: 128 + the signal, nothing left.
TEST_F(CliContract, ASignalStopsAConversionWithItsExitCode) {
  const std::string exe = test::BuiltCli();
  if (exe.empty() || access(exe.c_str(), X_OK) != 0) GTEST_SKIP() << "sonarvex-cli is not built";
  // Two minutes of noise as CD audio: slow enough to be caught while encoding.
  std::string pcm(120 * 44100 * 4, '\0');
  std::uint32_t x = 7;
  for (char& c : pcm) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  const std::string src = home_ + "src/";
  MakeDirectories(src);
  ASSERT_TRUE(WriteFileAtomically(src + "long.wav", CdWavHeader(pcm.size()) + pcm));
  for (int sig : {SIGINT, SIGTERM}) {
    const std::string out = home_ + "conv" + std::to_string(sig) + "/";
    MakeDirectories(out);
    const pid_t pid = test::StartProgram(
        {exe, "--home", home_, "convert", "--to", "mp3", "--out", out, src + "long.wav"}, "",
        home_ + "c.err", 120);
    const auto begun = test::WaitUntil(
        pid,
        [&] {
          std::error_code ec;
          return !std::filesystem::is_empty(out, ec);
        },
        20000, 1000);
    if (begun == test::ChildWait::Ended) {
      const std::string err = ReadFileBytes(home_ + "c.err").value_or("");
      if (err.find("libmp3lame") != std::string::npos) GTEST_SKIP() << err;
      FAIL() << "finished before the signal: " << err;
    }
    ASSERT_EQ(begun, test::ChildWait::Ready);
    kill(pid, sig);
    EXPECT_EQ(test::WaitForExit(pid), 128 + sig) << ReadFileBytes(home_ + "c.err").value_or("");
    EXPECT_FALSE(FileExists(out + "long.mp3"));
    EXPECT_FALSE(FileExists(out + "long.mp3.part"));
  }
}

}  // namespace
}  // namespace sonarvex
