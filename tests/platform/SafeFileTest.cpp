#include "platform/SafeFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/Files.h"

namespace sonarvex {
namespace {

class SafeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-safe-XXXXXX";
    dir_ = std::string(mkdtemp(tmpl)) + "/";
    target_ = dir_ + "target";
    WriteFileAtomically(target_, "keep me");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  bool Exists(const std::string& p) {
    struct stat st{};
    return lstat(p.c_str(), &st) == 0;
  }
  std::string dir_, target_;
};

TEST_F(SafeFileTest, ExclusiveCreationRefusesAnythingAlreadyThere) {
  // An existing file, a link to it and a dangling link all refuse.
  EXPECT_LT(CreateExclusiveFile(target_), 0);
  EXPECT_EQ(errno, EEXIST);
  ASSERT_EQ(symlink(target_.c_str(), (dir_ + "link").c_str()), 0);
  EXPECT_LT(CreateExclusiveFile(dir_ + "link"), 0);
  ASSERT_EQ(symlink((dir_ + "nowhere").c_str(), (dir_ + "dangling").c_str()), 0);
  EXPECT_LT(CreateExclusiveFile(dir_ + "dangling"), 0);
  EXPECT_FALSE(Exists(dir_ + "nowhere")) << "a dangling link must not create its target";
  EXPECT_EQ(*ReadFileBytes(target_), "keep me");
  int fd = CreateExclusiveFile(dir_ + "new");
  ASSERT_GE(fd, 0);
  close(fd);
}

TEST_F(SafeFileTest, ReplacementRemovesLinksNotTheirTargets) {
  ASSERT_EQ(symlink(target_.c_str(), (dir_ + "link").c_str()), 0);
  EXPECT_TRUE(RemoveForReplacement(dir_ + "link"));
  EXPECT_FALSE(Exists(dir_ + "link"));
  EXPECT_EQ(*ReadFileBytes(target_), "keep me");
  EXPECT_TRUE(RemoveForReplacement(dir_ + "absent"));
  MakeDirectories(dir_ + "folder");
  EXPECT_FALSE(RemoveForReplacement(dir_ + "folder"));
  EXPECT_TRUE(Exists(dir_ + "folder"));
}

// Whether the folder's file system keeps extended attributes.
bool KeepsMarks(const std::string& dir) {
  const std::string probe = dir + "probe";
  int fd = CreateExclusiveFile(probe);
  char value[16];
  const bool kept = fd >= 0 && ::fgetxattr(fd, kOwnFileMark, value, sizeof value) > 0;
  if (fd >= 0) ::close(fd);
  ::unlink(probe.c_str());
  return kept;
}

// A file this program created and left behind (a crash, a power cut).
void LeaveOwnPartial(const std::string& path, const std::string& head) {
  int fd = CreateExclusiveFile(path);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  ASSERT_EQ(::write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
  ::close(fd);
}

TEST_F(SafeFileTest, OnlyOwnStalePartialFilesAreRemoved) {
  const std::string part = dir_ + "x.part";
  EXPECT_EQ(RemoveStalePartial(part), StaleFile::None);
  const bool marks = KeepsMarks(dir_);
  // What the program's writers start their files with.
  for (const std::string& head :
       {std::string(), std::string("RIFF\x30\0\0\0WAVEfmt ", 16), std::string("ID3\3\0", 5),
        std::string("\xFF\xFB\x90\x64", 4), std::string("\xFF\xF3\x90\x64", 4),
        std::string("OggS\0\2", 6)}) {
    LeaveOwnPartial(part, head);
    EXPECT_EQ(RemoveStalePartial(part), StaleFile::Removed) << head.size();
    EXPECT_FALSE(Exists(part));
    // The same bytes in a file the program did not make (a user's own
    // download named like the partial file) stay, where marks are kept.
    WriteFileAtomically(part, head);
    EXPECT_EQ(RemoveStalePartial(part), marks ? StaleFile::Foreign : StaleFile::Removed)
        << head.size();
    EXPECT_EQ(Exists(part), marks);
    ::unlink(part.c_str());
  }
  // A finished file loses its mark.
  LeaveOwnPartial(part, "OggS");
  ClearOwnMark(part);
  if (marks) {
    EXPECT_EQ(RemoveStalePartial(part), StaleFile::Foreign);
  }
  ::unlink(part.c_str());
  // Anything else stays: other content, a RIFF that is no WAVE, a link (even
  // to one of our files), a file with a second name, a folder.
  for (const std::string& head : {std::string("notes"), std::string("RIFF\0\0\0\0AVI LIST", 16),
                                  std::string("\xFF\xFF", 2)}) {
    WriteFileAtomically(part, head);
    EXPECT_EQ(RemoveStalePartial(part), StaleFile::Foreign) << head;
    EXPECT_EQ(*ReadFileBytes(part), head);
  }
  ASSERT_EQ(unlink(part.c_str()), 0);
  WriteFileAtomically(target_, "OggS");
  ASSERT_EQ(symlink(target_.c_str(), part.c_str()), 0);
  EXPECT_EQ(RemoveStalePartial(part), StaleFile::Foreign);
  EXPECT_TRUE(Exists(part));
  ASSERT_EQ(unlink(part.c_str()), 0);
  ASSERT_EQ(link(target_.c_str(), part.c_str()), 0);
  EXPECT_EQ(RemoveStalePartial(part), StaleFile::Foreign);
  EXPECT_TRUE(Exists(part));
  ASSERT_EQ(unlink(part.c_str()), 0);
  MakeDirectories(part);
  EXPECT_EQ(RemoveStalePartial(part), StaleFile::Foreign);
  EXPECT_EQ(*ReadFileBytes(target_), "OggS");
}

TEST_F(SafeFileTest, OutputFileWritesPatchesAndDeletesWhatIsNotFinished) {
  const std::string path = dir_ + "out.bin";
  {
    OutputFile f;
    ASSERT_TRUE(f.Create(path));
    std::string big(200000, 'a');
    ASSERT_TRUE(f.Write("head", 4));
    ASSERT_TRUE(f.Write(big.data(), big.size()));  // larger than the buffer
    ASSERT_TRUE(f.Write("tail", 4));
    EXPECT_EQ(f.Position(), 200008u);
    ASSERT_TRUE(f.WriteAt(0, "HEAD", 4));
    ASSERT_TRUE(f.Finish());
    EXPECT_FALSE(f.IsOpen());
  }
  auto bytes = ReadFileBytes(path);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 200008u);
  EXPECT_EQ(bytes->substr(0, 4), "HEAD");
  EXPECT_EQ(bytes->substr(200004), "tail");

  // An existing name is not truncated: the creation fails and says why.
  OutputFile again;
  WriteResult r = again.Create(path);
  EXPECT_TRUE(r.Failed());
  EXPECT_EQ(r.message, "Не удалось создать файл '" + path + "': " + std::strerror(EEXIST) + ".");
  EXPECT_EQ(ReadFileBytes(path)->size(), 200008u);
  EXPECT_TRUE(again.Write("x", 1).Failed()) << "nothing is written after a failed creation";

  // A file never finished is deleted.
  {
    OutputFile f;
    ASSERT_TRUE(f.Create(dir_ + "half.bin"));
    ASSERT_TRUE(f.Write("half", 4));
  }
  EXPECT_FALSE(Exists(dir_ + "half.bin"));
}

}  // namespace
}  // namespace sonarvex
