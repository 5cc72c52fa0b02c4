// MusicBrainz as a source of the lookup (CddbLookup): a query lists the
// releases that hold the disc, one title each as the chooser shows them;
// applying one writes its album, artist, year, genre, track titles and
// track artists into the album record, the tags and their full texts, and
// what MusicBrainz says beyond the record fields (identifiers, dates,
// label, ...) as info keys of the texts (see kAlbumInfoKeys).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "drive/DiscToc.h"
#include "metadata/MetadataSource.h"
#include "metadata/MusicBrainzClient.h"
#include "metadata/MusicBrainzRelease.h"
#include "records/AlbumRecord.h"
#include "records/RecordTexts.h"
#include "records/TagBuffer.h"

namespace sonarvex {

class AlbumView;

// "Артист – Альбом (год, страна, лейбл, штрихкод, формат, N дорожек)"; empty
// parts are left out. A release of several media names the disc's
// ("диск 2 из 5") after the format.
std::string MusicBrainzChoiceTitle(const MusicBrainzRelease& release,
                                   const MusicBrainzMedium* medium);

class MusicBrainzSource : public MetadataSource {
 public:
  // toc: the disc as the drive gave it (the identifier is made from it).
  MusicBrainzSource(std::unique_ptr<MusicBrainzClient> client, const DiscToc& toc,
                    AlbumRecord& album, RecordTexts& albumTexts, TagBuffer& tags, AlbumView* view);

  // Only this release (its MusicBrainz identifier) is offered; a lookup
  // whose answer does not list it fails.
  void SetWantedRelease(std::string id) { wanted_ = std::move(id); }

  Answer Query(const CddbTocTable& toc, std::uint32_t discId,
               std::vector<std::string>& titles) override;
  bool Apply(int index) override;
  std::string FailureReason() const override { return failure_; }

  const std::vector<MusicBrainzRelease>& Releases() const { return releases_; }
  const std::string& DiscId() const { return discId_; }

 private:
  std::unique_ptr<MusicBrainzClient> client_;
  DiscToc toc_;
  AlbumRecord& album_;
  RecordTexts& albumTexts_;
  TagBuffer& tags_;
  AlbumView* view_;
  std::string wanted_;
  std::string discId_;
  int audioTracks_ = 0;
  std::vector<MusicBrainzRelease> releases_;
  std::string failure_;
};

}  // namespace sonarvex
