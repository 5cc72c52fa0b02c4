// The disc's own CD-Text as a source of the lookup (CddbLookup): its one
// entry is what the disc says of itself; applying it writes the album title,
// the artist, the track titles and each track's performer into the album
// record, the tags and their full texts (ISRCs and the UPC/EAN as the info
// keys Isrc and Barcode). Nothing is asked of a network.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "drive/CdText.h"
#include "metadata/MetadataSource.h"
#include "records/AlbumRecord.h"
#include "records/RecordTexts.h"
#include "records/TagBuffer.h"

namespace sonarvex {

class AlbumView;

// "Артист – Альбом (CD-Text)"; parts the disc does not give are left out.
std::string CdTextChoiceTitle(const CdText& text);

class CdTextSource : public MetadataSource {
 public:
  // read: the disc's CD-Text from its drive (nullopt: the disc has none),
  // asked once per query.
  using Reader = std::function<std::optional<CdText>()>;
  CdTextSource(Reader read, AlbumRecord& album, RecordTexts& albumTexts, TagBuffer& tags,
               AlbumView* view);

  // NoMatch when the disc carries no usable CD-Text.
  Answer Query(const CddbTocTable& toc, std::uint32_t discId,
               std::vector<std::string>& titles) override;
  bool Apply(int index) override;
  std::string FailureReason() const override { return failure_; }

  const std::optional<CdText>& Text() const { return text_; }

 private:
  Reader read_;
  AlbumRecord& album_;
  RecordTexts& albumTexts_;
  TagBuffer& tags_;
  AlbumView* view_;
  std::optional<CdText> text_;
  std::string failure_;
};

}  // namespace sonarvex
