#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/Files.h"
#include "platform/XdgAssociations.h"

namespace sonarvex {

TEST(XdgAssociations, AudioCdHandlerAndMp3Player) {
  char tmpl[] = "/tmp/sonarvex-xdg-XXXXXX";
  std::string root = mkdtemp(tmpl);
  std::string config = root + "/config", data = root + "/data";
  MakeDirectories(data + "/applications");
  XdgAssociations xdg(config, {data});
  EXPECT_EQ(xdg.AudioCdHandler(), "");
  ASSERT_TRUE(xdg.SetAudioCdHandler("foo.desktop"));
  EXPECT_EQ(xdg.AudioCdHandler(), "foo.desktop");
  ASSERT_TRUE(xdg.SetAudioCdHandler(""));
  EXPECT_EQ(xdg.AudioCdHandler(), "");

  // The MP3 player: the first piece of the Exec line that names a program.
  WriteFileAtomically(data + "/applications/player.desktop",
                      "[Desktop Entry]\nExec=\"/no/such player\" /bin/sh --play %U\n");
  WriteFileAtomically(config + "/mimeapps.list",
                      "[Default Applications]\naudio/mpeg=player.desktop;other.desktop;\n");
  EXPECT_EQ(xdg.Mp3PlayerPath(), "/bin/sh");
  auto exec = xdg.ExecOf("player.desktop");
  ASSERT_EQ(exec.size(), 3u);
  EXPECT_EQ(exec[0], "/no/such player");

  std::string id = xdg.InstallDesktopEntry("/opt/my \"dir\"/sonarvex");
  EXPECT_EQ(id, "sonarvex.desktop");
  EXPECT_EQ(xdg.ExecOf(id).at(0), "/opt/my \"dir\"/sonarvex");
  std::filesystem::remove_all(root);
}

}  // namespace sonarvex
