// The MusicBrainz web service (version 2, JSON) through the program's HTTP
// client: the releases that hold a disc, by its disc identifier, and, when
// the service does not know the identifier, by its table of contents (a
// fuzzy lookup). Requests name the program, its version and its home page in
// their User-Agent, as the service asks, and leave at most one a second
// from the whole process; an answer may not grow beyond a few MiB.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "metadata/MusicBrainzRelease.h"
#include "platform/HttpClient.h"

namespace sonarvex {

inline constexpr const char* kDefaultMusicBrainzServer = "https://musicbrainz.org";
// What every lookup asks for beside the releases.
inline constexpr const char* kMusicBrainzIncludes =
    "recordings+artist-credits+labels+release-groups+isrcs";

// "Sonarvex/<version> ( <home page> )".
std::string MusicBrainzUserAgent();

// The server's base address from the setting: http:// or https:// with a
// host (and port), without a trailing "/"; "" when the text is none.
std::string MusicBrainzServerBase(const std::string& setting);

struct MusicBrainzLimits {
  int waitMs = 10000;
  long long totalMs = 30000;
  std::size_t maxResponseBytes = 4u << 20;
  int pumpIntervalMs = 50;
  int requestIntervalMs = 1000;  // between two requests of the process
};

class MusicBrainzClient {
 public:
  enum class Answer { Found, Unknown, Failed };

  // server: the setting ([MusicBrainz] Server); "" is the default server.
  explicit MusicBrainzClient(const std::string& server, MusicBrainzLimits limits = {});
  void SetPump(std::function<void()> pump) { pump_ = std::move(pump); }
  void SetProxy(const HttpProxy& proxy) { proxy_ = proxy; }

  // The releases of the disc: by its identifier, then (the identifier
  // unknown: HTTP 404) by its table of contents (tocParameter, see
  // MusicBrainzTocParameter; "" skips it). Unknown: neither found any.
  Answer Lookup(const std::string& discId, const std::string& tocParameter,
                std::vector<MusicBrainzRelease>& releases);
  // Whether the last lookup found the releases by the table of contents.
  bool FoundByToc() const { return byToc_; }

  // Why the last lookup failed (Russian, names the server); "" when it did not.
  const std::string& FailureReason() const { return failure_; }
  // "сервер MusicBrainz <address>".
  std::string Peer() const;

 private:
  // GET of base + target; the status of the answer, or -1 when no answer
  // came (failure_ says why).
  int Get(const std::string& target, std::string& body);
  Answer Parse(const std::string& body, std::vector<MusicBrainzRelease>& releases);

  std::string base_;
  std::string setting_;
  MusicBrainzLimits limits_;
  std::function<void()> pump_;
  HttpProxy proxy_;
  std::string failure_;
  bool byToc_ = false;
};

}  // namespace sonarvex
