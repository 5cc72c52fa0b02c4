#include <gtest/gtest.h>

#include <filesystem>
#include <stdlib.h>

#include "platform/DialogFolder.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"

namespace sonarvex {

TEST(ScriptedDialogs, MatchesExactlyAndReportsEveryDifference) {
  ScriptedDialogs d;
  d.ExpectMessage("Заменить?", kProgramTitle, MsgIcon::Question, MsgButtons::YesNo, IdYes)
      .ExpectMessage("Готово", kProgramTitle, MsgIcon::Information, MsgButtons::Ok);
  EXPECT_TRUE(d.AskYesNo("Заменить?"));
  EXPECT_EQ(d.Pending(), 1u);
  // Wrong icon: still answered, but recorded.
  d.Message("Готово", kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  EXPECT_EQ(d.Failures().size(), 1u);
  // Nothing more was scripted.
  EXPECT_EQ(d.Message("extra", "c", MsgIcon::None, MsgButtons::OkCancel), IdCancel);
  std::string why;
  EXPECT_FALSE(d.Clean(&why));
  EXPECT_NE(why.find("unexpected message [c] \"extra\""), std::string::npos);
}

TEST(ScriptedDialogs, ChoosersAnswerFromTheScript) {
  ScriptedDialogs d;
  d.ExpectFolder("/music").ExpectFolder("").ExpectSaveFile("/x.m3u");
  EXPECT_EQ(d.ChooseFolder("t", "/"), "/music");
  EXPECT_FALSE(d.ChooseFolder("t", "/").has_value());
  EXPECT_EQ(d.SaveFile("s", {}, "m3u", ""), "/x.m3u");
  EXPECT_TRUE(d.Clean());
  // A chooser where a message box was scripted is a failure.
  d.ExpectMessage("m", "c", MsgIcon::None, MsgButtons::Ok);
  EXPECT_FALSE(d.ChooseFolder("t", "/").has_value());
  EXPECT_FALSE(d.Clean());
}

// File dialogs open where the user was last, else in the music folder,
// else at home; never in the program's own folder.
TEST(DialogStartFolder, LastUsedThenMusicThenHome) {
  char tmpl[] = "/tmp/sonarvex-dialogs-XXXXXX";
  const std::string root = mkdtemp(tmpl);
  const std::string last = root + "/last", music = root + "/Музыка", home = root + "/home";
  EXPECT_EQ(DialogStartFolder("/asked/file.m3u", last, music, home), "/asked/file.m3u");
  // Nothing there yet: home.
  EXPECT_EQ(DialogStartFolder("", last, music, home), home);
  EXPECT_EQ(DialogStartFolder("", "", "", home), home);
  ASSERT_TRUE(MakeDirectories(music));
  EXPECT_EQ(DialogStartFolder("", last, music, home), music);
  ASSERT_TRUE(MakeDirectories(last));
  EXPECT_EQ(DialogStartFolder("", last, music, home), last);
  std::filesystem::remove_all(root);
}

}  // namespace sonarvex
