// The fixture of the batch tests on real files: an engine on a fresh folder
// (the build's libkelpra.so), sources in src/, outputs into out/; skipped
// where ffmpeg, ffprobe, lame or libmp3lame is missing.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/conversion/ConversionTestUtil.h"

namespace sonarvex::test {

class BatchTest : public ::testing::Test {
 protected:
  // makeOutputFolder: out/ is there before the batch (else the batch makes it).
  explicit BatchTest(bool makeOutputFolder) : makeOutputFolder_(makeOutputFolder) {}
  void SetUp() override {
    for (const char* tool : {"ffmpeg", "ffprobe", "lame"})
      if (!ToolPresent(tool)) GTEST_SKIP() << tool << " is not installed";
    ASSERT_TRUE(rig_.Engine().Create());
    if (!rig_.encoders->Lame().Available()) GTEST_SKIP() << "libmp3lame.so.0 is missing";
    src_ = rig_.dir.File("src");
    out_ = rig_.dir.File("out");
    std::filesystem::create_directories(src_);
    if (makeOutputFolder_) std::filesystem::create_directories(out_);
    rig_.Engine().outputFolder = out_;
  }
  ConvertEngine& E() { return rig_.Engine(); }
  std::string S(const std::string& name) const { return src_ + "/" + name; }
  std::string O(const std::string& name) const { return out_ + "/" + name; }

  EngineRig rig_;
  std::string src_, out_;

 private:
  bool makeOutputFolder_;
};

}  // namespace sonarvex::test
