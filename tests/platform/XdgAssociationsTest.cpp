#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>

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

namespace sonarvex {

// Registering as the audio CD player changes one key of the user's
// mimeapps.list and keeps every other byte.
TEST(XdgAssociations, OnlyTheOneKeyOfMimeappsListChanges) {
  const std::string before =
      "# my associations, hand-kept\n"
      "text/plain=gedit.desktop;\n"  // a key before any group
      "[Added Associations]\n"
      "x-content/audio-cdda=old.desktop;\n"
      "\n"
      "[Default Applications]\n"
      "# the player\n"
      "video/mp4=mpv.desktop;\n"
      "x-content/audio-cdda = other.desktop;\n"
      "audio/flac=b.desktop;\n"
      "\n"
      "[Removed Associations]\n"
      "image/png=z.desktop;\n";
  std::string after = SetDesktopFileKey(before, "Default Applications", "x-content/audio-cdda",
                                        std::string("sonarvex.desktop;"));
  std::string expected = before;
  expected.replace(expected.find("x-content/audio-cdda = other.desktop;"),
                   std::string("x-content/audio-cdda = other.desktop;").size(),
                   "x-content/audio-cdda=sonarvex.desktop;");
  EXPECT_EQ(after, expected);
  // Removing it drops that line alone; setting it back appends it to its group.
  std::string removed =
      SetDesktopFileKey(after, "Default Applications", "x-content/audio-cdda", std::nullopt);
  EXPECT_EQ(removed.find("x-content/audio-cdda=sonarvex"), std::string::npos);
  EXPECT_EQ(removed.size(), after.size() - std::string("x-content/audio-cdda=sonarvex.desktop;\n").size());
  std::string again = SetDesktopFileKey(removed, "Default Applications", "x-content/audio-cdda",
                                        std::string("a.desktop;"));
  EXPECT_NE(again.find("audio/flac=b.desktop;\nx-content/audio-cdda=a.desktop;\n\n[Removed"),
            std::string::npos);
  // A file without the group gets it at the end; CR LF files stay CR LF.
  EXPECT_EQ(SetDesktopFileKey("[Other]\r\na=b\r\n", "Default Applications", "k",
                              std::string("v")),
            "[Other]\r\na=b\r\n\r\n[Default Applications]\r\nk=v\r\n");
  EXPECT_EQ(SetDesktopFileKey("", "Default Applications", "k", std::string("v")),
            "[Default Applications]\nk=v\n");
}

TEST(XdgAssociations, MimeappsListThatIsALinkOrUnreadable) {
  char tmpl[] = "/tmp/sonarvex-xdg-XXXXXX";
  std::string root = mkdtemp(tmpl);
  std::string config = root + "/config", dotfiles = root + "/dotfiles";
  MakeDirectories(config);
  MakeDirectories(dotfiles);
  const std::string original = "# kept\n[Default Applications]\naudio/mpeg=vlc.desktop;\n";
  WriteFileAtomically(dotfiles + "/mimeapps.list", original);
  ASSERT_EQ(::symlink("../dotfiles/mimeapps.list", (config + "/mimeapps.list").c_str()), 0);
  XdgAssociations xdg(config, {root + "/data"});
  ASSERT_TRUE(xdg.SetAudioCdHandler("sonarvex.desktop"));
  EXPECT_TRUE(std::filesystem::is_symlink(config + "/mimeapps.list"));
  EXPECT_EQ(*ReadFileBytes(dotfiles + "/mimeapps.list"),
            original + "x-content/audio-cdda=sonarvex.desktop;\n");
  EXPECT_EQ(xdg.AudioCdHandler(), "sonarvex.desktop");

  // A file that exists but cannot be read is never replaced by an empty one.
  std::string blocked = root + "/blocked";
  MakeDirectories(blocked);
  ASSERT_EQ(::mkdir((blocked + "/mimeapps.list").c_str(), 0755), 0);  // not a file at all
  XdgAssociations other(blocked, {root + "/data"});
  EXPECT_FALSE(other.SetAudioCdHandler("sonarvex.desktop"));
  EXPECT_TRUE(std::filesystem::is_directory(blocked + "/mimeapps.list"));
  std::filesystem::remove_all(root);
}

}  // namespace sonarvex
