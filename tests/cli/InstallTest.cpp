// The installed program: `cmake --install` of this build into a scratch
// prefix puts every file where the desktop looks for it, the files pass the
// desktop's own checkers, the completion offers the commands, and the
// installed command line keeps its state in the XDG folders of the user,
// writing nothing below the prefix.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "drive/virtual/DemoDisc.h"
#include "platform/Files.h"
#include "platform/Shell.h"
#include "platform/Version.h"

namespace sonarvex {
namespace {

// Runs a shell command; its exit status and everything it printed.
struct Output {
  int status = -1;
  std::string text;
};
Output Shell(const std::string& command) {
  Output o;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return o;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) o.text.append(buffer, n);
  const int status = pclose(p);
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return o;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

class InstallTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/sonarvex-install-XXXXXX";
    root_ = std::string(mkdtemp(tmpl)) + "/";
    prefix_ = root_ + "usr/";
    const std::string cmake = FindInPath("cmake");
    if (cmake.empty()) return;
    install_ = Shell(Quote(cmake) + " --install " + Quote(std::string(SONARVEX_BIN_DIR) + "/..") +
                     " --prefix " + Quote(prefix_));
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(root_); }

  void SetUp() override {
    if (FindInPath("cmake").empty()) GTEST_SKIP() << "no cmake";
    ASSERT_EQ(install_.status, 0) << install_.text;
  }
  void NeedTool(const char* tool) {
    if (FindInPath(tool).empty()) GTEST_SKIP() << "no " << tool << " (scripts/packages.txt)";
  }

  static std::string root_, prefix_;
  static Output install_;
};

std::string InstallTest::root_, InstallTest::prefix_;
Output InstallTest::install_;

TEST_F(InstallTest, EveryFileLandsWhereTheDesktopLooks) {
  for (const char* file :
       {"bin/sonarvex", "bin/sonarvex-cli", "lib/sonarvex/libkelpra.so",
        "share/applications/sonarvex.desktop", "share/icons/hicolor/scalable/apps/sonarvex.svg",
        "share/metainfo/io.sonarvex.Sonarvex.metainfo.xml",
        "share/bash-completion/completions/sonarvex-cli", "share/doc/sonarvex/README.md",
        "share/man/man1/sonarvex.1.gz", "share/man/man1/sonarvex-cli.1.gz"})
    EXPECT_TRUE(FileExists(prefix_ + file)) << file;
  // Nothing of the build's own state comes along.
  EXPECT_FALSE(DirectoryExists(prefix_ + "bin/setting"));
}

TEST_F(InstallTest, DesktopEntryAndAppStreamMetadataPassTheirCheckers) {
  NeedTool("desktop-file-validate");
  Output d = Shell("desktop-file-validate " + Quote(prefix_ + "share/applications/sonarvex.desktop"));
  EXPECT_EQ(d.status, 0) << d.text;
  EXPECT_EQ(d.text, "");
  NeedTool("appstreamcli");
  Output a = Shell("appstreamcli validate --no-net " +
                   Quote(prefix_ + "share/metainfo/io.sonarvex.Sonarvex.metainfo.xml"));
  EXPECT_EQ(a.status, 0) << a.text;
  // The entry handles audio CDs and names the installed icon.
  const std::string entry = *ReadFileBytes(prefix_ + "share/applications/sonarvex.desktop");
  EXPECT_NE(entry.find("MimeType=x-content/audio-cdda;"), std::string::npos);
  EXPECT_NE(entry.find("Icon=sonarvex\n"), std::string::npos);
  EXPECT_NE(entry.find("GenericName[ru]="), std::string::npos);
  // The release is the project's version.
  const std::string meta =
      *ReadFileBytes(prefix_ + "share/metainfo/io.sonarvex.Sonarvex.metainfo.xml");
  EXPECT_NE(meta.find("<release version=\"" SONARVEX_VERSION "\""), std::string::npos) << meta;
}

TEST_F(InstallTest, ManualPagesFormatWithoutWarnings) {
  NeedTool("man");
  for (const char* page : {"sonarvex.1.gz", "sonarvex-cli.1.gz"}) {
    Output m = Shell("LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l " +
                     Quote(prefix_ + "share/man/man1/" + page) + " 2>&1 >/dev/null");
    EXPECT_EQ(m.status, 0) << page;
    EXPECT_EQ(m.text, "") << page;
  }
  Output cli = Shell("LC_ALL=C.UTF-8 MANWIDTH=200 man -l " +
                     Quote(prefix_ + "share/man/man1/sonarvex-cli.1.gz"));
  // Every command and override of the help is in the page.
  for (const char* word : {"drives", "toc", "rip", "cddb", "settings show", "settings set", "play",
                           "convert", "--out", "--name", "--bitrate", "--vbr", "--ogg-quality",
                           "--profile", "--quiet", "--verbose", "--version", "EXIT STATUS"})
    EXPECT_NE(cli.text.find(word), std::string::npos) << word;
  // The footer names the project's version, the same the program reports.
  EXPECT_NE(cli.text.find("Sonarvex " SONARVEX_VERSION), std::string::npos);
  EXPECT_EQ(cli.text.find('@'), std::string::npos);
}

// A command's heading holds its whole synopsis on its own line (a tag
// split over two macro lines would put half of it into the text), and the
// exit statuses of the contract are written down.
TEST_F(InstallTest, ManualPageHeadingsHoldTheirWholeSynopsis) {
  NeedTool("man");
  Output cli = Shell("LC_ALL=C.UTF-8 MANWIDTH=250 man -l " +
                     Quote(prefix_ + "share/man/man1/sonarvex-cli.1.gz") + " 2>/dev/null");
  for (const char* heading :
       {"toc [--drive N]", "cddb [--drive N] [--match K]", "blank [--drive N] [--full]",
        "offset [--drive N] | offset set SAMPLES [--drive N]",
        "burn [--drive N] [--test] [--speed X|max] [--overburn] [--verify|--no-verify] FILE...",
        "verify [--accuraterip HOST[:PORT]] FILE.cue"})
    EXPECT_NE(cli.text.find(std::string("\n       ") + heading + "\n"), std::string::npos) << heading;
  for (const char* status : {"\n       130    Stopped by SIGINT", "\n       143    Stopped by SIGTERM", "\n       2      Usage error"})
    EXPECT_NE(cli.text.find(status), std::string::npos) << status;
}

TEST_F(InstallTest, BashCompletionOffersTheCommandsAndOptions) {
  const std::string framework = "/usr/share/bash-completion/bash_completion";
  if (!FileExists(framework)) GTEST_SKIP() << "no bash-completion (scripts/packages.txt)";
  auto complete = [&](const std::string& line) {
    // COMP_WORDS as bash splits the line; the cursor at its end.
    const std::string script =
        "source " + Quote(framework) + "; source " +
        Quote(prefix_ + "share/bash-completion/completions/sonarvex-cli") +
        "; COMP_LINE=" + Quote(line) + "; COMP_POINT=${#COMP_LINE}; "
        "read -ra COMP_WORDS <<< \"$COMP_LINE\"; [[ $COMP_LINE == *' ' ]] && COMP_WORDS+=(''); "
        "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _sonarvex_cli; printf '%s\\n' \"${COMPREPLY[@]}\"";
    const std::string file = root_ + "complete.sh";
    WriteFileAtomically(file, script);
    return Shell("bash " + Quote(file)).text;
  };
  const std::string commands = complete("sonarvex-cli ");
  for (const char* c : {"drives\n", "toc\n", "rip\n", "cddb\n", "settings\n", "play\n",
                        "convert\n", "help\n"})
    EXPECT_NE(commands.find(c), std::string::npos) << c << commands;
  EXPECT_EQ(complete("sonarvex-cli r"), "rip\n");
  const std::string rip = complete("sonarvex-cli rip --o");
  EXPECT_NE(rip.find("--out\n"), std::string::npos) << rip;
  EXPECT_NE(rip.find("--on-the-fly\n"), std::string::npos) << rip;
  EXPECT_NE(rip.find("--ogg-quality\n"), std::string::npos) << rip;
  EXPECT_EQ(complete("sonarvex-cli rip --format o"), "ogg\nopus\n");
  EXPECT_EQ(complete("sonarvex-cli convert --to op"), "opus\n");
  EXPECT_EQ(complete("sonarvex-cli settings s"), "show\nset\n");
}

TEST_F(InstallTest, TheInstalledCommandLineKeepsItsStateInTheXdgFolders) {
  const std::string home = root_ + "home/";
  MakeDirectories(home);
  std::string error;
  const std::string cue = WriteDemoDisc(root_ + "disc", &error);
  ASSERT_FALSE(cue.empty()) << error;
  const std::string env = "env -i PATH=/usr/bin:/bin HOME=" + Quote(home) + " ";
  const std::string cli = Quote(prefix_ + "bin/sonarvex-cli");
  Output r = Shell(env + cli + " --image " + Quote(cue) + " rip --format wav --tracks 1 --out " +
                   Quote(home + "rips"));
  ASSERT_EQ(r.status, 0) << r.text;
  EXPECT_NE(r.text.find(home + "rips/"), std::string::npos) << r.text;
  r = Shell(env + cli + " settings set ShowGrid=1");
  ASSERT_EQ(r.status, 0) << r.text;
  EXPECT_TRUE(FileExists(home + ".config/sonarvex/set.dat"));
  EXPECT_TRUE(FileExists(home + ".config/sonarvex/prof.lst"));
  // The run's temporary folder is gone; nothing was written below the prefix.
  std::error_code ec;
  EXPECT_TRUE(std::filesystem::is_empty(home + ".cache/sonarvex", ec) || ec);
  EXPECT_FALSE(DirectoryExists(prefix_ + "bin/setting"));
  EXPECT_FALSE(DirectoryExists(prefix_ + "bin/TempFiles"));
  // The window answers without a display.
  r = Shell(env + Quote(prefix_ + "bin/sonarvex") + " --version");
  EXPECT_EQ(r.status, 0) << r.text;
  EXPECT_EQ(r.text, "sonarvex 3.2\n");
}

}  // namespace
}  // namespace sonarvex
