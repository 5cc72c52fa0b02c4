// The album database as the disc read uses it: an enhanced CD stored under
// the identifier of its corrected rows (as earlier versions asked the server
// with) is still found, stays in its file, and is never mistaken for another
// disc stored under the same number.
#include <gtest/gtest.h>

#include <filesystem>

#include "drive/DiscModel.h"
#include "metadata/AlbumDatabase.h"
#include "metadata/DiscId.h"
#include "platform/Cp1251.h"
#include "platform/ScriptedDialogs.h"
#include "records/TextFields.h"
#include "tests/drive/DriveRig.h"

namespace sonarvex {
namespace {

using test::DriveRig;

class StoredAlbum : public testing::Test {
 protected:
  void SetUp() override { folder_ = test::MakeTempFolder() + "/albums/"; }
  void TearDown() override { std::filesystem::remove_all(folder_ + ".."); }

  // Two audio tracks, then the data track of a second session.
  static VirtualDisc EnhancedCd() {
    return BuildDisc({{4500, 0, 1}, {6000, 0, 1}, {900, 4, 2}});
  }
  DiscView Read(DriveRig& rig, AlbumRecord& album, TagBuffer& tags) {
    tags.Clear();
    return ReadDisc(rig.spti, 0, 0, dialogs_, album, [&](std::uint32_t id, AlbumRecord& a) {
      return LoadAlbum(folder_, SignedDiscId(id), a, tags);
    });
  }
  // The disc's rows with titles, stored under `id`.
  void Store(const DiscToc& toc, std::uint32_t id, const std::string& title) {
    AlbumRecord album{};
    FillTracksFromToc(toc, album, false);
    album.DiscId = SignedDiscId(id);
    SetFieldUtf8(album.Artist, "Группа");
    SetFieldUtf8(album.Tracks[0].Title, title);
    album.Tracks[1].CopiedFlag = 1;
    TagBuffer tags;
    TrackTagRecord tag{};
    tag.TagsOn = 1;
    tags.Set(0, album.TrackCount, tag);
    ASSERT_TRUE(SaveAlbum(folder_, album, tags));
  }

  std::string folder_;
  ScriptedDialogs dialogs_;
};

TEST_F(StoredAlbum, AnEnhancedCdStoredUnderItsCorrectedIdentifierIsFoundAndKeepsItsFile) {
  DriveRig rig({EnhancedCd()});
  AlbumRecord album{};
  TagBuffer tags;
  const DiscView first = Read(rig, album, tags);
  ASSERT_TRUE(first.present);
  ASSERT_FALSE(first.known);
  // What earlier versions asked the server with: the rows' identifier.
  const std::uint32_t corrected = ComputeDiscId(TocTableFromAlbum(album));
  ASSERT_NE(corrected, first.discId);  // the data track moved back 11400 frames
  EXPECT_EQ(CorrectedCddbDiscId(first.toc), corrected);
  Store(first.toc, corrected, "Первая");

  const DiscView view = Read(rig, album, tags);
  EXPECT_TRUE(view.known);
  EXPECT_EQ(view.discId, first.discId);
  EXPECT_EQ(view.rows[0].caption, "Первая");
  EXPECT_EQ(view.rows[1].state, "Cкопирован");
  EXPECT_EQ(FieldUtf8(album.Artist), "Группа");
  EXPECT_EQ(tags.Bytes().size(), 3 * sizeof(TrackTagRecord));
  EXPECT_EQ(tags.Bytes()[0], 1);
  // Stored again, it stays in the file it was found in.
  EXPECT_EQ(static_cast<std::uint32_t>(album.DiscId), corrected);
  SetFieldUtf8(album.Tracks[1].Title, "Вторая");
  ASSERT_TRUE(SaveAlbum(folder_, album, tags));
  ASSERT_EQ(ListAlbumFiles(folder_).size(), 1u);
  EXPECT_EQ(std::filesystem::path(ListAlbumFiles(folder_)[0]).filename().string(),
            AlbumFileName(SignedDiscId(corrected)));
  EXPECT_EQ(Read(rig, album, tags).rows[1].caption, "Вторая");
}

TEST_F(StoredAlbum, TheDiscsOwnIdentifierComesFirstAndAnotherDiscIsNotTaken) {
  DriveRig rig({EnhancedCd()});
  AlbumRecord album{};
  TagBuffer tags;
  const DiscView first = Read(rig, album, tags);
  const std::uint32_t corrected = ComputeDiscId(TocTableFromAlbum(album));

  // Another disc's album under that number: its rows are not this disc's.
  {
    AlbumRecord other{};
    other.TrackCount = 3;
    other.DiscId = SignedDiscId(corrected);
    SetFieldUtf8(other.Artist, "Другой");
    for (int i = 0; i <= 3; ++i) other.Tracks[i].AudioFlag = 1;
    ASSERT_TRUE(SaveAlbum(folder_, other, TagBuffer()));
  }
  DiscView view = Read(rig, album, tags);
  EXPECT_FALSE(view.known);
  EXPECT_EQ(view.rows[0].caption, "Track1");
  EXPECT_EQ(FieldUtf8(album.Artist), "");
  EXPECT_EQ(static_cast<std::uint32_t>(album.DiscId), first.discId);

  // The disc's own album is taken before any other.
  Store(first.toc, first.discId, "Своя");
  view = Read(rig, album, tags);
  EXPECT_TRUE(view.known);
  EXPECT_EQ(view.rows[0].caption, "Своя");
  EXPECT_EQ(static_cast<std::uint32_t>(album.DiscId), first.discId);
}

TEST_F(StoredAlbum, AnAudioDiscHasOneIdentifier) {
  DriveRig rig({BuildAudioDisc({4500, 6000})});
  AlbumRecord album{};
  TagBuffer tags;
  const DiscView view = Read(rig, album, tags);
  EXPECT_EQ(CorrectedCddbDiscId(view.toc), view.discId);
}

}  // namespace
}  // namespace sonarvex
