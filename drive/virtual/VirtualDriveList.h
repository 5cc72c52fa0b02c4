// The software drives the user declares in setting/vdrives.lst, one a line:
// the path of a .cue image (a drive with that disc), "burn:" + path of a
// .cue file (a recorder with a blank CD-R that writes that image) or
// "burnrw:" + path (the same with a blank CD-RW). Blank lines and lines
// starting with '#' are ignored. Relative paths are taken from the program
// folder.
//
// A line may start with options, each a word NAME=VALUE followed by blanks;
// the first word that is not a known option begins the drive (so a path
// may hold blanks, and a relative path that looks like an option is written
// as "./NAME=..."):
//   offset=N              reads with a read offset of N samples (-5880..+5880),
//                         as a real drive of that model would (image drives)
//   fail-read=LBA[-LBA]   audio reads touching these sectors fail (medium error)
//   fail-every-read=N     every N-th audio read fails
//   jitter=BYTES          every second audio read comes shifted by BYTES
//   short-read=BYTES      audio reads deliver BYTES less than asked
//   corrupt=LBA           reads of this sector return changed audio, GOOD status
//   flaky=LBA[-LBA]       reads of these sectors return changed audio with GOOD
//                         status on their first reads, right audio after them
//   flaky-wrong-reads=N   how many first reads of each flaky sector are wrong
//                         (1 when not given; "always": every read)
//   flaky-same=0|1        1: the wrong reads all bring the same wrong bytes
//   flaky-c2=0|1          0: the wrong reads are not flagged in the C2 error
//                         pointers (1 when not given)
//   c2=0|1                0: the drive has no C2 error pointers (image drives)
//   speed=N               reads audio at most at N x (N x 176 400 bytes a second,
//                         1..100), slower when the program sets a lower speed
//   not-ready=N           the first N commands answer "becoming ready"
//   remove-after-reads=N  the disc is gone after N audio reads
//   fail-write=LBA        the WRITE touching this sector fails (recorders)
//   remove-after-writes=N the disc is gone after N WRITE commands (recorders)
//   capacity=MM:SS:FF     where the blank's lead-out may start at the latest
//                         (recorders; 79:59:74 when not given)
// A line with an option that cannot be used is skipped with the reason.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "drive/virtual/VirtualDriveFaults.h"

namespace sonarvex {

class DeviceDirectory;
class Dialogs;
class VirtualDrive;

struct VirtualDriveLine {
  enum class Kind { Image, Burn, BurnRw };
  Kind kind = Kind::Image;
  std::string path;  // absolute
  int line = 0;
  int readOffsetSamples = 0;
  // The drive's read speed (factor of 1x); 0: as fast as the image reads.
  int readSpeedFactor = 0;
  // Whether the drive gives C2 error pointers (its capabilities page says so).
  bool c2Pointers = true;
  VirtualDriveFaults faults;
  // The blank's last possible lead-out (LBA); -1: the drive's own.
  std::int32_t lastLeadOutLba = -1;
};

struct VirtualDriveListParse {
  std::vector<VirtualDriveLine> entries;
  std::vector<std::string> problems;  // one text per unusable line
};

inline constexpr const char* kVirtualDriveListName = "setting/vdrives.lst";
// The largest read offset a line may give (ten sectors).
inline constexpr int kMaxVirtualReadOffset = 5880;
// The highest read speed a line may give (speed=N).
inline constexpr int kMaxVirtualReadSpeed = 100;

VirtualDriveListParse ParseVirtualDriveList(std::string_view text,
                                            const std::string& programFolder);

// Creates the drives of the lines (image drives load their image; a line whose
// image cannot be loaded is skipped).
struct VirtualDriveSetup {
  std::vector<std::shared_ptr<VirtualDrive>> drives;
  std::vector<std::string> problems;
};
VirtualDriveSetup CreateVirtualDrives(const VirtualDriveListParse& list);

// Reads <programFolder>/setting/vdrives.lst (nothing when it does not exist),
// adds the drives to the directory, and shows one warning listing the lines
// that were skipped. Returns the number of drives added.
int LoadVirtualDrives(const std::string& programFolder, DeviceDirectory& directory,
                      Dialogs& dialogs);
// The same for a list at listPath whose relative image paths start from
// baseFolder (an installed program keeps the list in its settings folder).
int LoadVirtualDriveList(const std::string& listPath, const std::string& baseFolder,
                         DeviceDirectory& directory, Dialogs& dialogs);

}  // namespace sonarvex
