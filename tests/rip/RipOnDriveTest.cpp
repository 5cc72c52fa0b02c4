// The ripping loop on the real transports and the software drive: what the
// WAV files hold and what happens when the drive fails.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "../drive/DriveRig.h"
#include "RipTestDoubles.h"
#include "SmallDisk.h"
#include "rip/EncoderRipAdapter.h"
#include "rip/TransportRipDrive.h"
#include "codec/EncoderSet.h"
#include "codec/FlacReader.h"
#include "codec/FlacWriter.h"
#include "drive/AudioReading.h"
#include "drive/DiscModel.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/SafeFile.h"
#include "platform/ScriptedDialogs.h"

namespace sonarvex {
namespace {

class RipOnDriveTest : public ::testing::TestWithParam<TransportKind> {
 protected:
  void SetUp() override {
    folder_ = test::MakeTempFolder() + "/";
    MakeDirectories(folder_ + "out");
    ApplyFirstStartDefaults(s_, (folder_ + "out/").c_str());
    s_.FolderPerAlbum = s_.FolderPerArtist = 0;
    s_.NameHasNumber = 1;
    s_.NameHasTitle = 1;
  }
  void TearDown() override {
    std::filesystem::remove_all(folder_);
    std::string why;
    EXPECT_TRUE(dialogs_.Clean(&why)) << why;
  }
  // Reads the disc of the rig's drive into the album record.
  void Read(test::DriveRig& rig) {
    Transport& t = rig.Get(GetParam());
    view_ = ReadDisc(t, 0, 0, dialogs_, album_);
    ASSERT_TRUE(view_.present);
  }
  void Rip(test::DriveRig& rig, std::vector<bool> ticked) {
    host_ = std::make_unique<FakeHost>(static_cast<int>(ticked.size()));
    host_->ticked = std::move(ticked);
    Transport& t = rig.Get(GetParam());
    TransportRipDrive drive(t, album_.FirstTrackOffset);
    EncoderSet encoder(s_, dialogs_);
    EncoderRipAdapter adapter(encoder);
    RipPipeline rip(*host_, drive, adapter, dialogs_, s_, album_, tags_, folder_ + "TempFiles/");
    rip.SetExistingFiles(existing_);
    rip.SetFormatOptions(options_);
    rip.GrabCommand(sender_);
    outcome_ = rip.LastOutcome();
  }
  std::string Out(int i) {
    return folder_ + "out/" + std::to_string(i) + " - Track" + std::to_string(i + 1) + ".wav";
  }

  std::string folder_;
  SettingsRecord s_{};
  AlbumRecord album_{};
  TagBuffer tags_;
  DiscView view_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<FakeHost> host_;
  RipPipeline::Outcome outcome_ = RipPipeline::Outcome::NotStarted;
  RipPipeline::ExistingFiles existing_ = RipPipeline::ExistingFiles::Ask;
  GrabSender sender_ = GrabSender::Wave;
  FormatOptions options_;
};

TEST_P(RipOnDriveTest, FilesHoldTheTracksEvenWhenTheFirstTrackStartsLate) {
  // The first track at 00:02:32 (LBA 32): the album counts sectors from it,
  // the drive from 00:02:00.
  test::DriveRig rig({BuildDisc({TrackLayout{600, 0, 1}, TrackLayout{450, 0, 1}}, 32)});
  Read(rig);
  EXPECT_EQ(album_.FirstTrackOffset, 182);
  Rip(rig, {true, true});
  ASSERT_EQ(outcome_, RipPipeline::Outcome::Done);
  Transport& t = rig.Get(GetParam());
  for (int i = 0; i < 2; ++i) {
    std::vector<std::uint8_t> expected;
    ASSERT_TRUE(ReadAudioSectors(t, 32 + album_.Tracks[i].StartSector,
                                 album_.Tracks[i + 1].StartSector - album_.Tracks[i].StartSector,
                                 26, expected));
    auto file = ReadFileBytes(Out(i));
    ASSERT_TRUE(file);
    ASSERT_EQ(file->size(), 48 + expected.size());
    EXPECT_EQ(file->compare(48, std::string::npos,
                            std::string(expected.begin(), expected.end())),
              0)
        << i;
  }
}

// FLAC keeps pace with the drive: each track is encoded as it is read, no
// temporary WAV file is written (none appears in the temporary folder), and
// the files decode to the disc's audio with libFLAC's verify mode on and off.
TEST_P(RipOnDriveTest, FlacIsEncodedAsReadWithoutATemporaryWav) {
  if (!FlacWriter().Available() || !FlacReader().Available())
    GTEST_SKIP() << kFlacLibraryName << " cannot be loaded";
  test::DriveRig rig({BuildAudioDisc({1000, 777})});
  Read(rig);
  sender_ = GrabSender::Flac;
  ASSERT_EQ(s_.OnTheFlyEncoding, 0);
  for (int verify : {1, 0}) {
    SCOPED_TRACE(verify);
    std::filesystem::remove_all(folder_ + "out");
    MakeDirectories(folder_ + "out");
    MakeDirectories(folder_ + "TempFiles");
    options_.Set(kFlacVerifyOption, verify);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, (folder_ + "TempFiles").c_str(), IN_CREATE | IN_MOVED_TO), 0);
    Rip(rig, {true, true});
    char events[4096];
    const ssize_t seen = ::read(watch, events, sizeof events);
    ::close(watch);
    EXPECT_LT(seen, 0) << "a file was made in the temporary folder: "
                       << (seen > 0 ? reinterpret_cast<inotify_event*>(events)->name : "");
    ASSERT_EQ(outcome_, RipPipeline::Outcome::Done);
    Transport& t = rig.Get(GetParam());
    for (int i = 0; i < 2; ++i) {
      std::vector<std::uint8_t> expected;
      ASSERT_TRUE(ReadAudioSectors(t, album_.FirstTrackOffset - 150 + album_.Tracks[i].StartSector,
                                   album_.Tracks[i + 1].StartSector - album_.Tracks[i].StartSector,
                                   26, expected));
      FlacReader reader;
      const std::string out =
          folder_ + "out/" + std::to_string(i) + " - Track" + std::to_string(i + 1) + ".flac";
      ASSERT_TRUE(reader.Open(out)) << out;
      std::string decoded;
      ASSERT_TRUE(reader.ReadAll([&](const std::uint8_t* pcm, std::size_t n) {
        decoded.append(reinterpret_cast<const char*>(pcm), n);
        return WriteResult{};
      }));
      EXPECT_TRUE(decoded == std::string(expected.begin(), expected.end())) << i;
    }
  }
}

TEST_P(RipOnDriveTest, ReadsThatFailNowAndThenAreRetried) {
  test::DriveRig rig({BuildAudioDisc({900})});
  Read(rig);
  VirtualDriveFaults faults;
  faults.failEveryNthRead = 4;
  rig.Drive().SetFaults(faults);
  Rip(rig, {true});
  EXPECT_EQ(outcome_, RipPipeline::Outcome::Done);
  EXPECT_EQ(std::filesystem::file_size(Out(0)), 48u + 900 * 2352);
}

TEST_P(RipOnDriveTest, DiscTakenOutMidTrackStopsWithoutAFile) {
  test::DriveRig rig({BuildAudioDisc({900, 900})});
  Read(rig);
  VirtualDriveFaults faults;
  faults.removeMediumAfterReads = 10;
  rig.Drive().SetFaults(faults);
  dialogs_.ExpectMessage("Ошибка чтения диска (сектор 260). Копирование прервано.",
                         "Sonarvex v3.2", MsgIcon::Error, MsgButtons::Ok);
  Rip(rig, {true, true});
  EXPECT_EQ(outcome_, RipPipeline::Outcome::Failed);
  EXPECT_FALSE(FileExists(Out(0)));
  EXPECT_FALSE(FileExists(Out(0) + ".part"));
  EXPECT_FALSE(FileExists(Out(1)));
  EXPECT_EQ(host_->status[0], "Ошибка");
  EXPECT_TRUE(host_->ticked[0]);
}

TEST_P(RipOnDriveTest, AnUnreadableSectorFailsItsTrackAloneAndTheGrabGoesOn) {
  test::DriveRig rig({BuildAudioDisc({300, 300, 300})});
  Read(rig);
  VirtualDriveFaults faults;
  faults.failReadsFirst = faults.failReadsLast = 410;  // in track 2, in the chunk from 404
  rig.Drive().SetFaults(faults);
  dialogs_.ExpectMessage(
      "Не удалось прочитать дорожки: 2 (сектор 410). Эти сектора не читаются и после "
      "повторных попыток; дорожки не скопированы.",
      "Sonarvex v3.2", MsgIcon::Error, MsgButtons::Ok);
  Rip(rig, {true, true, true});
  EXPECT_EQ(outcome_, RipPipeline::Outcome::Failed);
  // The tracks before and after it are copied whole.
  EXPECT_EQ(std::filesystem::file_size(Out(0)), 48u + 300 * 2352);
  EXPECT_EQ(std::filesystem::file_size(Out(2)), 48u + 300 * 2352);
  EXPECT_EQ(host_->status[0], "Скопирован");
  EXPECT_EQ(host_->status[2], "Скопирован");
  // The bad one leaves nothing, says why, stays ticked and is not marked copied.
  EXPECT_FALSE(FileExists(Out(1)));
  EXPECT_FALSE(FileExists(Out(1) + ".part"));
  EXPECT_EQ(host_->status[1], "Ошибка чтения");
  EXPECT_EQ(host_->ticked, (std::vector<bool>{false, true, false}));
  EXPECT_EQ(album_.Tracks[1].CopiedFlag, 0);
  EXPECT_EQ(album_.Tracks[2].CopiedFlag, 1);
}

// Names through the whole loop: what lands on disk.
TEST_P(RipOnDriveTest, TracksOfOneGrabNeverShareAFile) {
  test::DriveRig rig({BuildAudioDisc({30, 40, 50})});
  Read(rig);
  s_.NameHasNumber = 0;
  for (int i = 0; i < 3; ++i) SetField(album_.Tracks[i].Title, Utf8ToCp1251("Интерлюдия"));
  const std::string out = folder_ + "out/";
  // A file of an earlier grab under the name is replaced when the user said
  // so beforehand.
  existing_ = RipPipeline::ExistingFiles::Replace;
  WriteFileAtomically(out + "Интерлюдия.wav", "earlier");
  Rip(rig, {true, true, true});
  ASSERT_EQ(outcome_, RipPipeline::Outcome::Done);
  EXPECT_EQ(host_->done, (std::vector<std::string>{out + "Интерлюдия.wav",
                                                   out + "Интерлюдия (2).wav",
                                                   out + "Интерлюдия (3).wav"}));
  EXPECT_EQ(std::filesystem::file_size(out + "Интерлюдия.wav"), 48u + 30 * 2352);
  EXPECT_EQ(std::filesystem::file_size(out + "Интерлюдия (2).wav"), 48u + 40 * 2352);
  EXPECT_EQ(std::filesystem::file_size(out + "Интерлюдия (3).wav"), 48u + 50 * 2352);
  // A second grab replaces its own earlier files instead of numbering on.
  Rip(rig, {true, true, true});
  EXPECT_EQ(host_->done[2], out + "Интерлюдия (3).wav");

  // A format string without a per-track code gives every track one name.
  std::filesystem::remove_all(out);
  MakeDirectories(out);
  s_.UseFormatString = 1;
  SetField(s_.FormatString, "%t - %a");
  Rip(rig, {true, true, true});
  ASSERT_EQ(outcome_, RipPipeline::Outcome::Done);
  ASSERT_EQ(host_->done.size(), 3u);
  std::set<std::string> names(host_->done.begin(), host_->done.end());
  EXPECT_EQ(names.size(), 3u);
  EXPECT_EQ(std::filesystem::file_size(host_->done[1]), 48u + 40 * 2352);
  EXPECT_EQ(std::filesystem::file_size(host_->done[2]), 48u + 50 * 2352);
}

TEST_P(RipOnDriveTest, LongNamesAreCutSoThatThePartialFileFitsToo) {
  test::DriveRig rig({BuildAudioDisc({30, 30})});
  Read(rig);
  // 49 Cyrillic letters each: 98 bytes of UTF-8 for every part of the name.
  std::string artist, album, title;
  for (int k = 0; k < 49; ++k) artist += "Я", album += "Д", title += "ж";
  SetField(album_.Artist, Utf8ToCp1251(artist));
  SetField(album_.AlbumTitle, Utf8ToCp1251(album));
  SetField(album_.Tracks[0].Title, Utf8ToCp1251(title.substr(0, 96) + "а"));
  SetField(album_.Tracks[1].Title, Utf8ToCp1251(title.substr(0, 96) + "б"));
  s_.NameHasArtist = s_.NameHasAlbum = 1;
  Rip(rig, {true, true});
  ASSERT_EQ(outcome_, RipPipeline::Outcome::Done);
  ASSERT_EQ(host_->done.size(), 2u);
  EXPECT_NE(host_->done[0], host_->done[1]);  // cut to the same name: numbered
  for (const auto& path : host_->done) {
    const std::string name = path.substr(path.rfind('/') + 1);
    EXPECT_LE(name.size() + std::strlen(".part"), 255u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".wav");
    EXPECT_EQ(std::filesystem::file_size(path), 48u + 30 * 2352);
  }
  // A folder that cannot be made is named with the reason.
  s_.NameHasArtist = s_.NameHasAlbum = 0;
  s_.FolderPerArtist = 1;
  WriteFileAtomically(folder_ + "out/" + artist, "a file, not a folder");
  const std::string message = "Не удалось создать папку '" + folder_ + "out/" + artist + "': " +
                              std::strerror(ENOTDIR) + ". Копирование прервано.";
  dialogs_.ExpectMessage(message, "Sonarvex v3.2", MsgIcon::Error, MsgButtons::Ok);
  Rip(rig, {true, false});
  EXPECT_EQ(outcome_, RipPipeline::Outcome::Failed);
}

TEST_P(RipOnDriveTest, ControlCharactersOfTitlesNeverReachFileNames) {
  test::DriveRig rig({BuildAudioDisc({30})});
  Read(rig);
  SetField(album_.Tracks[0].Title, "A\tB\r\nC\x7F" "D");
  Rip(rig, {true});
  ASSERT_EQ(outcome_, RipPipeline::Outcome::Done);
  ASSERT_EQ(host_->done.size(), 1u);
  EXPECT_EQ(host_->done[0], folder_ + "out/0 - A B  C D.wav");
  EXPECT_TRUE(FileExists(host_->done[0]));
}

TEST_P(RipOnDriveTest, TheDefaultMusicFolderIsMadeOnFirstUse) {
  // A fresh account: no music folder yet, no XDG folders.
  const std::string home = folder_ + "home";
  MakeDirectories(home);
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  const char* oldCfg = std::getenv("XDG_CONFIG_HOME");
  const std::string savedCfg = oldCfg ? oldCfg : "";
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  SetField(s_.OutputFolder, Utf8ToCp1251(DefaultOutputFolder()));
  test::DriveRig rig({BuildAudioDisc({30})});
  Read(rig);
  Rip(rig, {true});
  if (oldHome) setenv("HOME", savedHome.c_str(), 1); else unsetenv("HOME");
  if (oldCfg) setenv("XDG_CONFIG_HOME", savedCfg.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(outcome_, RipPipeline::Outcome::Done);
  EXPECT_TRUE(FileExists(home + "/Music/0 - Track1.wav"));
}

INSTANTIATE_TEST_SUITE_P(Transports, RipOnDriveTest,
                         ::testing::Values(TransportKind::Spti, TransportKind::Aspi),
                         test::KindName);

}  // namespace
}  // namespace sonarvex

namespace sonarvex {
namespace {

// How a failing rip is made to run out of space.
enum class Full {
  Output,     // the output folder is full: the streamed file or the encoded one fails
  TempFolder  // the temporary folder is full: the temporary WAV fails while reading
};

// Which writer a rip goes through.
enum class Writer { Wav, Lame, CodecLayer, Ogg };

std::string WriterName(Writer w) {
  switch (w) {
    case Writer::Wav: return "Wav";
    case Writer::Lame: return "Lame";
    case Writer::CodecLayer: return "CodecLayer";
    case Writer::Ogg: return "Ogg";
  }
  return "?";
}

const char* Extension(Writer w) {
  return w == Writer::Wav ? ".wav" : w == Writer::Ogg ? ".ogg" : ".mp3";
}

// Every file below folder (relative names), links included.
std::vector<std::string> FilesBelow(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_directory(ec) || it->is_symlink(ec))
      out.push_back(std::filesystem::relative(it->path(), folder).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

class RipWriteFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test::MakeTempFolder() + "/";
    MakeDirectories(folder_ + "out");
    MakeDirectories(folder_ + "outside");
    ApplyFirstStartDefaults(s_, (folder_ + "out/").c_str());
    s_.FolderPerAlbum = s_.FolderPerArtist = 0;
    s_.NameHasNumber = 1;
    s_.NameHasTitle = 1;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // Rips track 1 of a one-track disc (20 s) with the writer.
  RipPipeline::Outcome Rip(Writer w, bool onTheFly, Dialogs& dialogs, std::string* failure,
                           const std::string& tempFolder, std::function<void(FakeHost&)> onPump = {}) {
    test::DriveRig rig({BuildAudioDisc({1500})});
    Transport& t = rig.Get(TransportKind::Spti);
    AlbumRecord album{};
    ScriptedDialogs quiet;
    DiscView view = ReadDisc(t, 0, 0, quiet, album);
    if (!view.present) return RipPipeline::Outcome::NotStarted;
    s_.OnTheFlyEncoding = onTheFly ? 1 : 0;
    s_.UseLame = w == Writer::CodecLayer ? 0 : 1;
    FakeHost host(1);
    if (onPump) host.onPump = [&](int) { onPump(host); };
    TransportRipDrive drive(t, album.FirstTrackOffset);
    EncoderSet encoder(s_, dialogs);
    EncoderRipAdapter adapter(encoder);
    TagBuffer tags;
    RipPipeline rip(host, drive, adapter, dialogs, s_, album, tags, tempFolder);
    rip.SetExistingFiles(existing_);
    rip.GrabCommand(w == Writer::Wav ? GrabSender::Wave
                    : w == Writer::Ogg ? GrabSender::Ogg
                                       : GrabSender::Mp3Menu);
    if (failure) *failure = rip.FailureText();
    status_ = host.status[0];
    return rip.LastOutcome();
  }
  std::string Out(Writer w) { return folder_ + "out/0 - Track1" + Extension(w); }

  std::string folder_;
  SettingsRecord s_{};
  std::string status_;
  RipPipeline::ExistingFiles existing_ = RipPipeline::ExistingFiles::Ask;
};

struct FullDiskCase {
  Writer writer;
  bool onTheFly;
  Full full;
};

class RipOnFullDiskTest : public RipWriteFailureTest,
                          public ::testing::WithParamInterface<FullDiskCase> {};

TEST_P(RipOnFullDiskTest, FailsNamingTheFileAndLeavesNothing) {
  const FullDiskCase c = GetParam();
  // The small disk is either the output folder or the whole working folder
  // (temporary files included).
  const std::string small = c.full == Full::Output ? folder_ + "out" : folder_;
  const std::string temp = folder_ + "TempFiles/";
  test::ChildReport r = test::RunWithSmallDisk(small, 48 * 1024, [&] {
    MakeDirectories(folder_ + "out");
    FullDiskDialogs dialogs;
    std::string failure;
    auto outcome = Rip(c.writer, c.onTheFly, dialogs, &failure, temp);
    std::string files;
    for (const auto& f : FilesBelow(folder_)) files += f + ";";
    return "outcome=" + std::to_string(static_cast<int>(outcome)) + "\nfailure=" + failure +
           "\nfiles=" + files + "\nstatus=" + status_ + "\nshown=" +
           std::to_string(dialogs.shown.size()) + "\n";
  });
  ASSERT_NE(r.Get("crashed"), "yes");
  const std::string mode = r.Get("mode");
  RecordProperty("small_disk", mode);
  if (mode == "none") GTEST_SKIP() << "neither a mount namespace nor a file size limit";
  if (mode == "rlimit" && c.full == Full::Output && !c.onTheFly && c.writer != Writer::Wav)
    GTEST_SKIP() << "a file size limit fails the temporary WAV before the encoded file";
  EXPECT_EQ(r.Get("outcome"), std::to_string(static_cast<int>(RipPipeline::Outcome::Failed)));
  const std::string failure = r.Get("failure");
  // The file that failed: the temporary WAV when it is on the full disk, else the partial output.
  const bool tempFails = c.writer != Writer::Wav && !c.onTheFly;
  const std::string failed = tempFails && (c.full == Full::TempFolder || mode == "rlimit")
                                 ? temp + "Track1.wav"
                                 : Out(c.writer) + ".part";
  EXPECT_NE(failure.find("'" + failed + "'"), std::string::npos) << failure;
  EXPECT_NE(failure.find(std::strerror(mode == "tmpfs" ? ENOSPC : EFBIG)), std::string::npos)
      << failure;
  EXPECT_NE(failure.find("Копирование прервано."), std::string::npos) << failure;
  // Nothing under the final name, no partial file, no temporary WAV.
  EXPECT_EQ(r.Get("files"), "") << failure;
  EXPECT_EQ(r.Get("status"), "Ошибка");
  EXPECT_EQ(r.Get("shown"), "1") << "the failure is shown once";
}

std::string FullDiskName(const ::testing::TestParamInfo<FullDiskCase>& info) {
  const FullDiskCase& c = info.param;
  return WriterName(c.writer) + (c.onTheFly ? "OnTheFly" : "FromWav") +
         (c.full == Full::Output ? "OutputFull" : "TempFull");
}

INSTANTIATE_TEST_SUITE_P(
    Writers, RipOnFullDiskTest,
    ::testing::Values(FullDiskCase{Writer::Wav, false, Full::Output},
                      FullDiskCase{Writer::Lame, true, Full::Output},
                      FullDiskCase{Writer::Lame, false, Full::Output},
                      FullDiskCase{Writer::Lame, false, Full::TempFolder},
                      FullDiskCase{Writer::CodecLayer, true, Full::Output},
                      FullDiskCase{Writer::CodecLayer, false, Full::Output},
                      FullDiskCase{Writer::CodecLayer, false, Full::TempFolder},
                      FullDiskCase{Writer::Ogg, true, Full::Output},
                      FullDiskCase{Writer::Ogg, false, Full::Output},
                      FullDiskCase{Writer::Ogg, false, Full::TempFolder}),
    FullDiskName);

struct LinkCase {
  Writer writer;
  bool onTheFly;
};

class RipThroughLinksTest : public RipWriteFailureTest,
                            public ::testing::WithParamInterface<LinkCase> {
 protected:
  // A file outside the output folder that a link points to.
  std::string Target() {
    const std::string target = folder_ + "outside/target";
    WriteFileAtomically(target, "not yours");
    return target;
  }
  bool IsLink(const std::string& p) {
    struct stat st{};
    return lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  }
  bool IsRegular(const std::string& p) {
    struct stat st{};
    return lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }
};

TEST_P(RipThroughLinksTest, LinkAtThePartialNameStopsTheTrackUntouched) {
  const LinkCase c = GetParam();
  const std::string target = Target();
  const std::string part = Out(c.writer) + ".part";
  ASSERT_EQ(symlink(target.c_str(), part.c_str()), 0);
  FullDiskDialogs dialogs;
  std::string failure;
  EXPECT_EQ(Rip(c.writer, c.onTheFly, dialogs, &failure, folder_ + "TempFiles/"),
            RipPipeline::Outcome::Failed);
  EXPECT_EQ(failure, "Файл '" + part +
                         "' уже существует и создан не этой программой. Копирование прервано.");
  EXPECT_EQ(*ReadFileBytes(target), "not yours");
  EXPECT_TRUE(IsLink(part));
  EXPECT_FALSE(FileExists(Out(c.writer)));
  EXPECT_EQ(FilesBelow(folder_ + "TempFiles"), std::vector<std::string>{});
}

TEST_P(RipThroughLinksTest, LinkAtTheFinalNameIsReplacedNotWrittenThrough) {
  const LinkCase c = GetParam();
  const std::string target = Target();
  ASSERT_EQ(symlink(target.c_str(), Out(c.writer).c_str()), 0);
  // The user said beforehand that what is at the name is replaced.
  existing_ = RipPipeline::ExistingFiles::Replace;
  // A link where the temporary WAV goes is replaced too (the folder is the program's own).
  MakeDirectories(folder_ + "TempFiles");
  ASSERT_EQ(symlink(target.c_str(), (folder_ + "TempFiles/Track1.wav").c_str()), 0);
  FullDiskDialogs dialogs;
  std::string failure;
  EXPECT_EQ(Rip(c.writer, c.onTheFly, dialogs, &failure, folder_ + "TempFiles/"),
            RipPipeline::Outcome::Done)
      << failure;
  EXPECT_EQ(*ReadFileBytes(target), "not yours");
  EXPECT_TRUE(IsRegular(Out(c.writer)));
  EXPECT_GT(std::filesystem::file_size(Out(c.writer)), 10000u);
  EXPECT_EQ(status_, "Скопирован");
}

TEST_P(RipThroughLinksTest, StalePartialFilesOnlyOfOurOwnAreRemoved) {
  const LinkCase c = GetParam();
  const std::string part = Out(c.writer) + ".part";
  // Another program's file under the partial name stays and stops the track.
  WriteFileAtomically(part, "somebody's notes");
  FullDiskDialogs dialogs;
  EXPECT_EQ(Rip(c.writer, c.onTheFly, dialogs, nullptr, folder_ + "TempFiles/"),
            RipPipeline::Outcome::Failed);
  EXPECT_EQ(*ReadFileBytes(part), "somebody's notes");
  // A partial file of an earlier rip (made by the program, starting as our
  // files start) goes.
  std::string own = c.writer == Writer::Wav ? std::string("RIFF\0\0\0\0WAVEfmt ", 16)
                    : c.writer == Writer::Ogg ? std::string("OggS\0\2", 6)
                                              : std::string("ID3\3\0\0", 6);
  // The same bytes in a user's own file of that name (not made by the
  // program) stay too, wherever the file system keeps the program's mark.
  ::unlink(part.c_str());
  int fd = CreateExclusiveFile(part);
  ASSERT_GE(fd, 0);
  char mark[16];
  const bool marks = ::fgetxattr(fd, kOwnFileMark, mark, sizeof mark) > 0;
  ::close(fd);
  ::unlink(part.c_str());
  if (marks) {
    WriteFileAtomically(part, own);
    EXPECT_EQ(Rip(c.writer, c.onTheFly, dialogs, nullptr, folder_ + "TempFiles/"),
              RipPipeline::Outcome::Failed);
    EXPECT_EQ(*ReadFileBytes(part), own);
    ::unlink(part.c_str());
  }
  fd = CreateExclusiveFile(part);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, own.data(), own.size()), static_cast<ssize_t>(own.size()));
  ::close(fd);
  EXPECT_EQ(Rip(c.writer, c.onTheFly, dialogs, nullptr, folder_ + "TempFiles/"),
            RipPipeline::Outcome::Done);
  EXPECT_FALSE(FileExists(part));
  EXPECT_TRUE(FileExists(Out(c.writer)));
}

std::string LinkName(const ::testing::TestParamInfo<LinkCase>& info) {
  return WriterName(info.param.writer) + (info.param.onTheFly ? "OnTheFly" : "FromWav");
}

INSTANTIATE_TEST_SUITE_P(Writers, RipThroughLinksTest,
                         ::testing::Values(LinkCase{Writer::Wav, false},
                                           LinkCase{Writer::Lame, true},
                                           LinkCase{Writer::Lame, false},
                                           LinkCase{Writer::CodecLayer, true},
                                           LinkCase{Writer::CodecLayer, false},
                                           LinkCase{Writer::Ogg, true},
                                           LinkCase{Writer::Ogg, false}),
                         LinkName);

// Cancelling the compression of a track through the real encoders: the row
// says "Отменено" and nothing of the track is left.
TEST_F(RipWriteFailureTest, CancelledCompressionLeavesNothing) {
  for (Writer w : {Writer::Lame, Writer::CodecLayer, Writer::Ogg}) {
    ScriptedDialogs dialogs;
    dialogs.ExpectMessage("Вы хотите останоить сжатие???", "Sonarvex v3.2", MsgIcon::Question,
                          MsgButtons::YesNo, IdYes);
    int compressingPumps = 0;
    auto outcome = Rip(w, false, dialogs, nullptr, folder_ + "TempFiles/", [&](FakeHost& host) {
      if (host.state == WindowState::Compressing && ++compressingPumps == 3)
        host.state = WindowState::Idle;
    });
    EXPECT_EQ(outcome, RipPipeline::Outcome::Cancelled) << WriterName(w);
    EXPECT_EQ(status_, "Отменено") << WriterName(w);
    EXPECT_EQ(FilesBelow(folder_ + "out"), std::vector<std::string>{}) << WriterName(w);
    EXPECT_EQ(FilesBelow(folder_ + "TempFiles"), std::vector<std::string>{}) << WriterName(w);
    std::string why;
    EXPECT_TRUE(dialogs.Clean(&why)) << why;
  }
}

}  // namespace
}  // namespace sonarvex
