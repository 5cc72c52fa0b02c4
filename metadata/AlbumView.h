// What the main window shows of the current disc: the album name box
// (AlbumNameEdit), the artist box (GroupEdit) and the caption of each row of
// the track list. The lookup and the tag editor change them through this
// interface; texts are UTF-8.
#pragma once

#include <string>

namespace sonarvex {

class AlbumView {
 public:
  virtual ~AlbumView() = default;
  virtual void SetAlbumName(const std::string& text) = 0;
  virtual void SetArtist(const std::string& text) = 0;
  virtual void SetTrackCaption(int row, const std::string& text) = 0;
};

}  // namespace sonarvex
