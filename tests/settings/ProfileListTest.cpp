#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "settings/ProfileList.h"
#include "platform/Files.h"

namespace sonarvex {

TEST(ProfileList, MissingAndGarbledFiles) {
  char tmpl[] = "/tmp/sonarvex-prof-XXXXXX";
  std::string dir = std::string(mkdtemp(tmpl)) + "/";
  ProfileList list;
  EXPECT_FALSE(list.Load(dir));
  EXPECT_EQ(list.Lines(), std::vector<std::string>{"-1"});
  EXPECT_EQ(list.ActiveFileName(), "set.dat");
  ASSERT_TRUE(list.Save(dir));
  EXPECT_EQ(*ReadFileBytes(dir + "prof.lst"), "-1\r\n");

  WriteFileAtomically(dir + "prof.lst", "1\r\nrock.prof\r\na.b.prof\r\n");
  ASSERT_TRUE(list.Load(dir));
  EXPECT_EQ(list.ProfileCount(), 2);
  EXPECT_EQ(list.Active(), 1);
  EXPECT_EQ(list.ActiveFileName(), "a.b.prof");
  EXPECT_EQ(list.Caption(1), "a");  // shown up to its first dot

  // A first line that is not a number, or names no profile, must not stop
  // the start: the default settings are used.
  for (const char* text : {"abc\r\nx.prof\r\n", "7\r\nx.prof\r\n", "", "-5\n"}) {
    WriteFileAtomically(dir + "prof.lst", text);
    ASSERT_TRUE(list.Load(dir));
    EXPECT_EQ(list.Active(), -1) << text;
    EXPECT_EQ(list.ActiveFileName(), "set.dat") << text;
    EXPECT_FALSE(list.Lines().empty());
  }
  std::filesystem::remove_all(dir);
}

}  // namespace sonarvex
