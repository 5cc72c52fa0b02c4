// The settings dialog's fixture, for its model and for the window: a first
// start's settings record and a test album in a fresh folder, a FakeHost,
// and scripted dialogs that must be left without expectations.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/ScriptedDialogs.h"
#include "records/AlbumRecord.h"
#include "tests/settings/FakeHost.h"

namespace sonarvex {

class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-sform-XXXXXX";
    folder_ = std::string(mkdtemp(tmpl)) + "/";
    settings_ = TestSettings(folder_);
    album_ = TestAlbum();
  }
  void TearDown() override {
    std::string why;
    EXPECT_TRUE(dialogs_.Clean(&why)) << why;
    std::filesystem::remove_all(folder_);
  }
  // The settings are byte for byte these.
  bool SameSettings(const SettingsRecord& a) const { return std::memcmp(&a, &settings_, sizeof a) == 0; }

  std::string folder_;
  SettingsRecord settings_{};
  AlbumRecord album_{};
  TagBuffer tags_;
  FakeHost host_;
  ScriptedDialogs dialogs_;
};

}  // namespace sonarvex
