#include "metadata/AlbumCover.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "metadata/CoverArtClient.h"
#include "platform/Files.h"

namespace sonarvex {

std::string AlbumCoverPath(const std::string& albumFolder, std::int32_t discId,
                           const std::string& releaseId, const char* extension) {
  return JoinPath(albumFolder, std::to_string(discId) + "." + releaseId + "." + extension);
}

bool LoadAlbumCover(const std::string& albumFolder, std::int32_t discId,
                    const std::string& releaseId, CoverImage& image, std::size_t maxBytes) {
  if (releaseId.empty()) return false;
  for (const char* ext : {"jpg", "png"}) {
    const auto bytes = ReadFileBytes(AlbumCoverPath(albumFolder, discId, releaseId, ext), maxBytes + 1);
    if (!bytes || bytes->size() > maxBytes) continue;
    if (ReadCoverImage(std::vector<std::uint8_t>(bytes->begin(), bytes->end()), image)) return true;
  }
  return false;
}

bool StoreAlbumCover(const std::string& albumFolder, std::int32_t discId,
                     const std::string& releaseId, const CoverImage& image, std::string* problem) {
  if (problem) problem->clear();
  const std::string path = AlbumCoverPath(albumFolder, discId, releaseId, image.Extension());
  if (!MakeDirectories(albumFolder) ||
      !WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(image.bytes.data()),
                                                  image.bytes.size()))) {
    if (problem) *problem = "Не удалось записать файл '" + path + "': " + std::strerror(errno);
    return false;
  }
  // The disc's covers of other releases (and of the other type) go.
  const std::string prefix = std::to_string(discId) + ".";
  const std::string keep = path.substr(path.rfind('/') + 1);
  if (DIR* dir = ::opendir(albumFolder.c_str())) {
    std::vector<std::string> stale;
    while (dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (name == keep || name.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string rest = name.substr(prefix.size());
      const std::size_t dot = rest.rfind('.');
      if (dot == std::string::npos || rest.find('.') != dot) continue;  // "<release>.<ext>" only
      const std::string ext = rest.substr(dot + 1);
      if (ext == "jpg" || ext == "png") stale.push_back(JoinPath(albumFolder, name));
    }
    ::closedir(dir);
    for (const std::string& p : stale) ::unlink(p.c_str());
  }
  return true;
}

AlbumCoverResult FindAlbumCover(const std::string& albumFolder, std::int32_t discId,
                                const std::string& releaseId, bool fetch, CoverArtClient& client,
                                int size) {
  AlbumCoverResult result;
  if (releaseId.empty()) return result;
  auto image = std::make_shared<CoverImage>();
  if (LoadAlbumCover(albumFolder, discId, releaseId, *image)) {
    result.image = std::move(image);
    return result;
  }
  if (!fetch) return result;
  switch (client.FetchFront(releaseId, size, *image)) {
    case CoverArtClient::Answer::None:
      return result;
    case CoverArtClient::Answer::Failed:
      result.failure = client.FailureReason();
      return result;
    case CoverArtClient::Answer::Found:
      break;
  }
  result.fetched = true;
  StoreAlbumCover(albumFolder, discId, releaseId, *image, &result.failure);
  result.image = std::move(image);
  return result;
}

}  // namespace sonarvex
