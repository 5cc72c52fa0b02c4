// The encoder pool with the real writers on the software drive: the files
// of a rip with four workers are the files of a rip with one, byte for byte,
// and a full disk during a parallel rip leaves nothing behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "../drive/DriveRig.h"
#include "RipTestDoubles.h"
#include "SmallDisk.h"
#include "rip/EncoderRipAdapter.h"
#include "rip/TransportRipDrive.h"
#include "codec/EncoderSet.h"
#include "drive/DiscModel.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"

namespace sonarvex {
namespace {

std::map<std::string, std::string> FilesIn(const std::string& folder) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (auto& e : std::filesystem::recursive_directory_iterator(folder, ec))
    if (e.is_regular_file()) out[e.path().filename().string()] = *ReadFileBytes(e.path().string());
  return out;
}

// An Ogg file with the stream serial number (which the writer takes from
// the clock) and the page checksums that cover it set to zero; other files
// unchanged.
std::string WithoutOggSerial(std::string bytes) {
  std::size_t at = 0;
  while (at + 27 <= bytes.size() && bytes.compare(at, 4, "OggS") == 0) {
    const std::size_t segments = static_cast<unsigned char>(bytes[at + 26]);
    if (at + 27 + segments > bytes.size()) break;
    std::size_t body = 0;
    for (std::size_t k = 0; k < segments; ++k) body += static_cast<unsigned char>(bytes[at + 27 + k]);
    for (std::size_t k = 14; k < 18; ++k) bytes[at + k] = 0;
    for (std::size_t k = 22; k < 26; ++k) bytes[at + k] = 0;
    at += 27 + segments + body;
  }
  return bytes;
}

class RipPoolOnDriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test::MakeTempFolder() + "/";
    ApplyFirstStartDefaults(s_, (folder_ + "out/").c_str());
    s_.FolderPerAlbum = s_.FolderPerArtist = 0;
    s_.NameHasNumber = 1;
    s_.NameHasTitle = 1;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // Rips every track of a five-track disc (the titles of two the same)
  // into out/ with `workers` workers.
  RipPipeline::Outcome Rip(GrabSender sender, int workers, Dialogs& dialogs,
                           std::string* failure = nullptr) {
    MakeDirectories(folder_ + "out");
    test::DriveRig rig({BuildAudioDisc({700, 300, 520, 75, 410})});
    Transport& t = rig.Get(TransportKind::Spti);
    AlbumRecord album{};
    ScriptedDialogs quiet;
    if (!ReadDisc(t, 0, 0, quiet, album).present) return RipPipeline::Outcome::NotStarted;
    SetField(album.Tracks[3].Title, "Track2");
    FakeHost host(5);
    TransportRipDrive drive(t, album.FirstTrackOffset);
    EncoderSet encoder(s_, dialogs);
    EncoderRipAdapter adapter(encoder);
    TagBuffer tags;
    RipPipeline rip(host, drive, adapter, dialogs, s_, album, tags, folder_ + "TempFiles/");
    rip.SetEncoderPool(workers, [this](Dialogs& d) -> std::unique_ptr<RipEncoder> {
      return std::make_unique<OwnEncoderRipAdapter>(s_, d);
    });
    rip.GrabCommand(sender);
    if (failure) *failure = rip.FailureText();
    status_ = host.status;
    return rip.LastOutcome();
  }

  std::string folder_;
  SettingsRecord s_{};
  std::vector<std::string> status_;
};

TEST_F(RipPoolOnDriveTest, FourWorkersWriteTheFilesOfOneByteForByte) {
  struct Case {
    const char* name;
    GrabSender sender;
    bool lame;
    bool normalize;
    bool onTheFly = false;
  };
  for (const Case& c : {Case{"lame", GrabSender::Mp3Menu, true, true},
                        Case{"codec layer", GrabSender::Mp3Menu, false, false},
                        Case{"ogg", GrabSender::Ogg, true, true},
                        Case{"flac", GrabSender::Flac, true, false},
                        Case{"lame on the fly", GrabSender::Mp3Menu, true, false, true},
                        Case{"ogg on the fly", GrabSender::Ogg, true, false, true}}) {
    s_.UseLame = c.lame;
    s_.NormalizeEnabled = c.normalize;
    s_.OnTheFlyEncoding = c.onTheFly;
    FullDiskDialogs d1, d4;
    ASSERT_EQ(Rip(c.sender, 1, d1), RipPipeline::Outcome::Done) << c.name;
    auto one = FilesIn(folder_ + "out");
    std::filesystem::remove_all(folder_ + "out");
    ASSERT_EQ(Rip(c.sender, 4, d4), RipPipeline::Outcome::Done) << c.name;
    auto four = FilesIn(folder_ + "out");
    std::filesystem::remove_all(folder_ + "out");
    ASSERT_EQ(one.size(), 5u) << c.name;
    ASSERT_EQ(four.size(), 5u) << c.name;
    for (const auto& [name, bytes] : one) {
      ASSERT_TRUE(four.count(name)) << c.name << ": " << name;
      EXPECT_GT(bytes.size(), 1000u) << c.name << ": " << name;
      EXPECT_TRUE(WithoutOggSerial(bytes) == WithoutOggSerial(four[name]))
          << c.name << ": " << name << " differs (" << bytes.size() << " and "
          << four[name].size() << " bytes)";
    }
    EXPECT_EQ(d1.shown, d4.shown) << c.name;
    EXPECT_EQ(FilesIn(folder_ + "TempFiles").size(), 0u) << c.name;
  }
}

TEST_F(RipPoolOnDriveTest, AFullDiskDuringAParallelRipLeavesNoFile) {
  for (GrabSender sender : {GrabSender::Mp3Menu, GrabSender::Ogg}) {
    // The output folder fills while several tracks are compressed (the
    // temporary files lie elsewhere): about half of the files fit.
    const std::size_t room = sender == GrabSender::Ogg ? 600 * 1024 : 200 * 1024;
    MakeDirectories(folder_ + "out");
    test::ChildReport r = test::RunWithSmallDisk(folder_ + "out", room, [&] {
      FullDiskDialogs dialogs;
      std::string failure;
      auto outcome = Rip(sender, 3, dialogs, &failure);
      std::string files;
      std::error_code ec;
      for (auto& e : std::filesystem::recursive_directory_iterator(folder_, ec))
        if (!e.is_directory()) files += e.path().filename().string() + ";";
      std::string statuses;
      for (auto& st : status_) statuses += st + ";";
      return "outcome=" + std::to_string(static_cast<int>(outcome)) + "\nfailure=" + failure +
             "\nfiles=" + files + "\nshown=" + std::to_string(dialogs.shown.size()) +
             "\nstatus=" + statuses + "\n";
    });
    ASSERT_NE(r.Get("crashed"), "yes");
    if (r.Get("mode") != "tmpfs") GTEST_SKIP() << "no mount namespace for a small disk";
    EXPECT_EQ(r.Get("outcome"), std::to_string(static_cast<int>(RipPipeline::Outcome::Failed)))
        << r.Get("failure");
    EXPECT_NE(r.Get("failure").find("Копирование прервано."), std::string::npos)
        << r.Get("failure");
    // Tracks finished before the disk filled stay, as they would one after
    // the other; no partial or temporary file does.
    const std::string files = r.Get("files"), status = r.Get("status");
    EXPECT_EQ(files.find(".part"), std::string::npos) << files;
    EXPECT_EQ(files.find(".wav"), std::string::npos) << files;
    auto count = [](const std::string& text, const std::string& what) {
      int n = 0;
      for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
      return n;
    };
    EXPECT_EQ(count(files, ";"), count(status, "Скопирован")) << files << " / " << status;
    EXPECT_EQ(r.Get("shown"), "1") << "the failure is shown once";
    EXPECT_NE(r.Get("status").find("Ошибка"), std::string::npos) << r.Get("status");
  }
}

}  // namespace
}  // namespace sonarvex
