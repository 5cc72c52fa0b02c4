// The Cover Art Archive through the program's HTTP client: the front cover
// of a MusicBrainz release, GET <server>/release/<MBID>/front-<size>
// (redirects followed). Only a JPEG or PNG image of at most a bound is
// taken; anything else is a failure whose reason names the server.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/HttpClient.h"
#include "records/CoverImage.h"

namespace sonarvex {

inline constexpr const char* kDefaultCoverArtServer = "https://coverartarchive.org";
// The thumbnail sizes the archive makes; 0 asks for the original image.
inline constexpr int kCoverArtSizes[] = {250, 500, 1200, 0};
inline constexpr int kDefaultCoverArtSize = 500;

// The size the setting names: one of kCoverArtSizes, else the default.
int CoverArtSize(int setting);
// The server's base address from the setting (http:// or https:// and a
// host, no trailing "/"); "" when the text is none. "" is the default server.
std::string CoverArtServerBase(const std::string& setting);

struct CoverArtLimits {
  int waitMs = 10000;
  long long totalMs = 30000;
  std::size_t maxImageBytes = 8u << 20;
  int pumpIntervalMs = 50;
};

class CoverArtClient {
 public:
  enum class Answer { Found, None, Failed };

  explicit CoverArtClient(const std::string& server, CoverArtLimits limits = {});
  void SetPump(std::function<void()> pump) { pump_ = std::move(pump); }
  void SetProxy(const HttpProxy& proxy) { proxy_ = proxy; }

  // The release's front cover at the size (see CoverArtSize). None: the
  // archive has no front cover for the release (HTTP 404).
  Answer FetchFront(const std::string& releaseId, int size, CoverImage& image);

  // Why the last fetch failed (Russian, names the server); "" when it did not.
  const std::string& FailureReason() const { return failure_; }
  // "сервер Cover Art Archive <address>".
  std::string Peer() const;

 private:
  std::string base_;
  std::string setting_;
  CoverArtLimits limits_;
  std::function<void()> pump_;
  HttpProxy proxy_;
  std::string failure_;
};

}  // namespace sonarvex
