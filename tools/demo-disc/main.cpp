// sonarvex-demo-disc OUT_FOLDER [--vdrives LIST_FILE]
// Writes the demo disc (demo.cue + demo.bin) into OUT_FOLDER. With --vdrives,
// also declares it as a software drive in LIST_FILE unless that file exists.
#include <cstdio>
#include <string>

#include "drive/virtual/DemoDisc.h"
#include "platform/Files.h"

int main(int argc, char** argv) {
  if (argc != 2 && !(argc == 4 && std::string(argv[2]) == "--vdrives")) {
    std::fprintf(stderr, "usage: %s OUT_FOLDER [--vdrives LIST_FILE]\n", argv[0]);
    return 2;
  }
  std::string error;
  const std::string cue = sonarvex::WriteDemoDisc(argv[1], &error);
  if (cue.empty()) {
    std::fprintf(stderr, "sonarvex-demo-disc: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", cue.c_str());
  if (argc == 4 && !sonarvex::FileExists(argv[3])) {
    const std::string list = argv[3];
    const auto slash = list.rfind('/');
    if (slash != std::string::npos) sonarvex::MakeDirectories(list.substr(0, slash));
    std::string absolute = cue;
    if (!absolute.empty() && absolute[0] != '/') {
      if (char* real = realpath(cue.c_str(), nullptr)) {
        absolute = real;
        free(real);
      }
    }
    if (!sonarvex::WriteFileAtomically(list, "# Software drives, one a line\n" + absolute + "\n")) {
      std::fprintf(stderr, "sonarvex-demo-disc: cannot write %s\n", list.c_str());
      return 1;
    }
  }
  return 0;
}
