// The software drives the user declares in setting/vdrives.lst, one a line:
// the path of a .cue image (a drive with that disc), "burn:" + path of a
// .cue file (a recorder with a blank CD-R that writes that image) or
// "burnrw:" + path (the same with a blank CD-RW). An image line may start
// with "offset=N " (N in samples, -5880..+5880): the drive then reads with
// that read offset, as a real drive of that model would. Blank lines and
// lines starting with '#' are ignored. Relative paths are taken from the
// program folder.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
};

struct VirtualDriveListParse {
  std::vector<VirtualDriveLine> entries;
  std::vector<std::string> problems;  // one text per unusable line
};

inline constexpr const char* kVirtualDriveListName = "setting/vdrives.lst";
// The largest read offset a line may give (ten sectors).
inline constexpr int kMaxVirtualReadOffset = 5880;

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
