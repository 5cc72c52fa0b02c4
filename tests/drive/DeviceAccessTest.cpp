// Reaching the drives: system drives the user may not open, the sense data
// and time-outs of the transports, and the names the software drives show.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "drive/CapabilityReport.h"
#include "drive/DriveCommands.h"
#include "drive/TransportSetup.h"
#include "drive/virtual/VirtualDriveList.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "tests/drive/DriveRig.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;
using test::DriveRig;

// A fake device folder and SCSI generic class folder:
//   dev/sr0, dev/sr1, dev/sg0, dev/sg1, dev/sg2 (regular files)
//   sys/sgN/device -> ../devices/H:0:T:0 with "type" and, for the optical
//   drives, block/srN.
class FakeSystem : public testing::Test {
 protected:
  void SetUp() override {
    root_ = test::MakeTempFolder();
    dev_ = root_ + "/dev";
    sys_ = root_ + "/sys";
    fs::create_directories(dev_);
    fs::create_directories(sys_ + "/devices");
    for (const char* n : {"sr0", "sr1", "sg0", "sg1", "sg2"}) Touch(dev_ + "/" + n);
    Generic("sg0", "1:0:0:0", 5, "sr0");
    Generic("sg1", "1:0:1:0", 5, "sr1");
    Generic("sg2", "0:0:0:0", 0, "");  // a disk
  }
  void TearDown() override { fs::remove_all(root_); }

  static void Touch(const std::string& path) {
    std::ofstream(path) << "";
    ::chmod(path.c_str(), 0660);
  }
  void Generic(const std::string& name, const std::string& address, int type,
               const std::string& block) {
    const std::string device = sys_ + "/devices/" + address;
    fs::create_directories(device);
    std::ofstream(device + "/type") << type << "\n";
    if (!block.empty()) fs::create_directories(device + "/block/" + block);
    fs::create_directories(sys_ + "/" + name);
    fs::create_symlink("../devices/" + address, sys_ + "/" + name + "/device");
  }
  DeviceFolders Folders(std::set<std::string> denied = {}, std::set<std::string> busy = {}) {
    DeviceFolders f;
    f.dev = dev_;
    f.scsiGeneric = sys_;
    f.open = [denied, busy](const std::string& path) {
      const std::string name = fs::path(path).filename().string();
      if (denied.count(name)) {
        errno = EACCES;
        return -1;
      }
      if (busy.count(name)) {
        errno = EBUSY;
        return -1;
      }
      return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    };
    return f;
  }

  std::string root_, dev_, sys_;
};

// A group this process is not in (for a node only that group may use).
std::optional<gid_t> ForeignGroup() {
  if (::geteuid() != 0) return std::nullopt;  // only root can give a file to such a group
  if (const struct group* g = ::getgrnam("cdrom")) return g->gr_gid;
  return 24;
}

std::string GroupNameOf(gid_t gid) {
  const struct group* g = ::getgrgid(gid);
  return g ? g->gr_name : std::to_string(gid);
}

TEST_F(FakeSystem, DrivesThatCannotBeOpenedAreNamedWithTheReason) {
  // sr0 and its generic node sg0 are closed to the user, sr1 is held by
  // another program, the disk behind sg2 is closed too but is no drive.
  DeviceDirectory directory(true, Folders({"sr0", "sg0", "sg2"}, {"sr1"}));
  ASSERT_EQ(directory.Unreachable().size(), 2u);
  const auto lines = directory.Problems();
  EXPECT_EQ(lines[0], dev_ + "/sr0, " + dev_ + "/sg0: нет прав доступа на чтение и запись");
  EXPECT_EQ(lines[1], dev_ + "/sr1: устройство занято другой программой");
  EXPECT_EQ(directory.Unreachable()[0].error, EACCES);
  EXPECT_EQ(directory.ProblemsMessage(),
            std::string("Не удалось открыть приводы, поэтому их нет в списке:\n") + lines[0] +
                "\n" + lines[1]);
  // They keep their numbers, so the drives after them keep theirs.
  EXPECT_EQ(directory.PassThroughCount(), 2);
  EXPECT_EQ(directory.OpenPassThrough(0), nullptr);
  EXPECT_EQ(directory.PassThroughPath(1), dev_ + "/sr1");

  // Everything opens: nothing to say.
  DeviceDirectory open(true, Folders());
  EXPECT_TRUE(open.Problems().empty());
  EXPECT_EQ(open.ProblemsMessage(), "");
  EXPECT_NE(open.OpenPassThrough(1), nullptr);
}

TEST_F(FakeSystem, PermissionFailureNamesTheGroupTheUserLacks) {
  const auto gid = ForeignGroup();
  if (!gid) GTEST_SKIP() << "needs root to give the node to a group the test is not in";
  const std::string sr0 = dev_ + "/sr0";
  ASSERT_EQ(::chown(sr0.c_str(), 0, *gid), 0);
  // Root passes every permission check; the failure is injected.
  DeviceDirectory directory(true, Folders({"sr0"}));
  ASSERT_EQ(directory.Problems().size(), 1u);
  const std::string group = GroupNameOf(*gid);
  const bool listed = [&] {
    const struct group* g = ::getgrgid(*gid);
    for (char** m = g ? g->gr_mem : nullptr; m && *m; ++m)
      if (std::strcmp(*m, "root") == 0) return true;
    return false;
  }();
  if (listed)
    EXPECT_EQ(directory.Problems()[0], sr0 + ": нет прав доступа: пользователь включён в группу " +
                                           group + ", но это действует только после нового входа в систему");
  else
    EXPECT_EQ(directory.Problems()[0],
              sr0 + ": нет прав доступа: пользователь не входит в группу " + group);
}

TEST_F(FakeSystem, KernelRefusalForAUserOutsideTheGroup) {
  // The real open() as a user without the group: a child process gives up
  // root and reports what the directory says.
  const auto gid = ForeignGroup();
  if (!gid) GTEST_SKIP() << "needs root to become a user outside the drive's group";
  for (const char* n : {"sr0", "sr1", "sg0", "sg1"})
    ASSERT_EQ(::chown((dev_ + "/" + n).c_str(), 0, *gid), 0);
  ::chmod((dev_ + "/sr1").c_str(), 0666);  // sr1 is open to everybody
  ::chmod((dev_ + "/sg1").c_str(), 0666);
  fs::permissions(root_, fs::perms::all);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    DeviceFolders f;
    f.dev = dev_;
    f.scsiGeneric = sys_;
    DeviceDirectory directory(true, f);
    const std::string text = directory.ProblemsMessage();
    (void)!::write(pipeFds[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(text, "Не удалось открыть приводы, поэтому их нет в списке:\n" + dev_ + "/sr0, " + dev_ +
                      "/sg0: нет прав доступа: пользователь не входит в группу " + GroupNameOf(*gid));
}

TEST_F(FakeSystem, DriveReportListsTheDrivesThatCannotBeOpened) {
  DeviceDirectory directory(true, Folders({"sr0", "sg0"}));
  auto drive = std::make_shared<VirtualDrive>();
  drive->InsertDisc(BuildAudioDisc({300}));
  directory.AddVirtual(drive);
  for (TransportKind kind : {TransportKind::Spti, TransportKind::Aspi}) {
    SptiTransport spti(directory);
    AspiTransport aspi(directory);
    Transport* t = &spti;
    if (kind == TransportKind::Spti) {
      ASSERT_TRUE(spti.SelectDevice(2, 0));  // after sr0 and sr1
    } else {
      ASSERT_TRUE(aspi.Load());
      ASSERT_EQ(aspi.Enumerate(), 3);  // sg0, sg1 (by sysfs), the software drive
      ASSERT_TRUE(aspi.SelectDevice(2, 0));
      t = &aspi;
    }
    const auto lines = CapabilityReportLines(QueryCapabilities(*t));
    ASSERT_EQ(lines.size(), 24u);
    EXPECT_EQ(lines[0], "Привод : SONARVEXVirtual CD      1.0 ");
    EXPECT_EQ(lines[20], "Размер буфера     :       2048 Kb");
    EXPECT_EQ(lines[21], "");
    EXPECT_EQ(lines[22], "Недоступные приводы:");
    EXPECT_EQ(lines[23], dev_ + "/sr0, " + dev_ + "/sg0: нет прав доступа на чтение и запись");
  }
  // Every drive opens: the report is its usual 21 lines.
  DriveRig rig({BuildAudioDisc({300})});
  ASSERT_TRUE(rig.spti.SelectDevice(0, 0));
  EXPECT_EQ(CapabilityReportLines(QueryCapabilities(rig.spti)).size(), 21u);
}

// Sense data and time-outs.

class Transports : public testing::TestWithParam<TransportKind> {};

TEST_P(Transports, RequestThatNeverArrivedLeavesNoStaleSense) {
  DriveRig rig({BuildAudioDisc({300})});
  Transport& t = rig.Get(GetParam());
  VirtualDriveFaults faults;
  faults.notReadyCommands = 1;
  rig.Drive().SetFaults(faults);
  EXPECT_EQ(TestUnitReadySense(t), 2);  // becoming ready
  EXPECT_EQ(t.LastSense()[2] & 0x0F, 2);
  EXPECT_EQ(t.LastSense()[12], 0x04);
  // The drive goes away: the request is never delivered, so it is an error,
  // not "still becoming ready".
  rig.Drive().Unplug();
  EXPECT_EQ(TestUnitReadySense(t), 1);
  for (std::uint8_t b : t.LastSense()) EXPECT_EQ(b, 0);
  rig.Drive().Plug();
  EXPECT_EQ(TestUnitReadySense(t), 0);
}

INSTANTIATE_TEST_SUITE_P(Drive, Transports,
                         testing::Values(TransportKind::Spti, TransportKind::Aspi), test::KindName);

TEST(SptiTransport, NoDeviceLeavesNoStaleSense) {
  DriveRig rig({BuildAudioDisc({300})});
  VirtualDriveFaults faults;
  faults.notReadyCommands = 1;
  rig.Drive().SetFaults(faults);
  ASSERT_TRUE(rig.spti.SelectDevice(0, 0));
  EXPECT_EQ(TestUnitReadySense(rig.spti), 2);
  rig.spti.Close();
  EXPECT_EQ(rig.spti.Execute(cdb::TestUnitReady(), nullptr), SptiTransport::kNoDevice);
  for (std::uint8_t b : rig.spti.LastSense()) EXPECT_EQ(b, 0);
}

// A software drive that remembers the time-out of every request.
class TimedDrive : public VirtualDrive {
 public:
  ScsiOutcome Execute(const ScsiRequest& r) override {
    timeouts.push_back(r.timeoutMs);
    return VirtualDrive::Execute(r);
  }
  std::vector<int> timeouts;
};

TEST(Transports, LongCommandsGetLongTimeOutsOnBoth) {
  DeviceDirectory directory(false);
  auto drive = std::make_shared<TimedDrive>();
  drive->InsertDisc(BuildAudioDisc({300}));
  directory.AddVirtual(drive);
  CommandBlock sync;
  sync.bytes[0] = 0x35;  // SYNCHRONIZE CACHE (10)
  sync.length = 10;
  const CommandBlock blocks[] = {cdb::BlankDisc(0), cdb::CloseSession(), sync, cdb::TestUnitReady()};
  SptiTransport spti(directory);
  ASSERT_TRUE(spti.SelectDevice(0, 0));
  for (const auto& b : blocks) spti.Execute(b, nullptr);
  AspiTransport aspi(directory);
  ASSERT_TRUE(aspi.Load());
  ASSERT_EQ(aspi.Enumerate(), 1);
  ASSERT_TRUE(aspi.SelectDevice(0, 0));
  for (const auto& b : blocks) aspi.Execute(b, nullptr);
  const std::vector<int> expected = {20 * 60000, 20 * 60000, 20 * 60000, 30000,
                                     20 * 60000, 20 * 60000, 20 * 60000, 60000};
  EXPECT_EQ(drive->timeouts, expected);
}

// The names of the software drives.

class SoftwareDriveNames : public testing::Test {
 protected:
  void SetUp() override { folder_ = test::MakeTempFolder() + "/"; }
  void TearDown() override { fs::remove_all(folder_); }
  // A one-track image "<name>.cue" with "<name>.bin" in the sub-folder.
  void Image(const std::string& sub, const std::string& name) {
    fs::create_directories(folder_ + sub);
    WriteFileAtomically(folder_ + sub + name + ".bin", std::string(2352 * 75, '\0'));
    WriteFileAtomically(folder_ + sub + name + ".cue",
                        "FILE \"" + name + ".bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  }
  std::string folder_;
};

TEST_F(SoftwareDriveNames, ListedWithTheirImageFileName) {
  Image("a/", "demo");
  Image("b/", "demo");  // the same name in another folder
  Image("a/", "Pink Floyd - The Wall CD1");
  Image("a/", "Pink Floyd - The Wall CD2");
  Image("a/", "Кино");
  Image("a/", "tab\there");  // a control character in the name
  fs::create_directories(folder_ + "setting");
  WriteFileAtomically(folder_ + kVirtualDriveListName,
                      "a/demo.cue\nb/demo.cue\na/Pink Floyd - The Wall CD1.cue\n"
                      "a/Pink Floyd - The Wall CD2.cue\na/Кино.cue\nburn:out/new.cue\n"
                      "burnrw:out/rw.cue\na/tab\there.cue\n");
  ScriptedDialogs dialogs;
  DeviceDirectory directory(false);
  ASSERT_EQ(LoadVirtualDrives(folder_, directory, dialogs), 8);
  EXPECT_TRUE(dialogs.Clean());

  const std::vector<std::string> expected = {
      "Virtual CD demo         ",       "Virtual CD demo 2       ",
      "Virtual CD Pink Flo… CD1",       "Virtual CD Pink Flo… CD2",
      "Virtual CD Кино         ",       "Virtual CD-R new        ",
      "Virtual CD-RW rw        ",       "Virtual CD tab?here     ",
  };
  for (TransportKind kind : {TransportKind::Spti, TransportKind::Aspi}) {
    SptiTransport spti(directory);
    AspiTransport aspi(directory);
    Transport& t = kind == TransportKind::Spti ? static_cast<Transport&>(spti) : aspi;
    if (kind == TransportKind::Aspi) {
      ASSERT_TRUE(aspi.Load());
      aspi.Enumerate();
    }
    int index = 0;
    const auto list = BuildDriveList(t, nullptr, index);
    std::vector<std::string> names;
    for (const auto& e : list) names.push_back(e.name);
    EXPECT_EQ(names, expected);
  }
  // The drive report shows the same name with the revision.
  SptiTransport spti(directory);
  ASSERT_TRUE(spti.SelectDevice(4, 0));
  EXPECT_EQ(QueryCapabilities(spti).identification, "Virtual CD Кино         1.0 ");
}

}  // namespace
}  // namespace sonarvex
