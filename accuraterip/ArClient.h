// Fetches a disc's AccurateRip database entry over HTTP/1.0 through the
// program's HTTP client (one connection per request, closed before
// returning). Network input is bounded like the CDDB client's: connecting and
// each wait for data last at most ArLimits::waitMs, the whole fetch at most
// ArLimits::totalMs, and a response may not grow beyond
// ArLimits::maxResponseBytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "accuraterip/AccurateRip.h"

namespace sonarvex {

class IniStore;

inline constexpr const char* kDefaultArHost = "www.accuraterip.com";
// Where the server is kept in the settings folder's INI store ("HOST[:PORT]";
// empty or missing: verification is off).
inline constexpr const char* kArIniSection = "AccurateRip";
inline constexpr const char* kArIniServerKey = "Server";

struct ArServer {
  std::string host;
  int port = 80;
};

// "HOST", "HOST:PORT" or "[IPv6]:PORT"; false for an empty host or a port
// outside 1..65535.
bool ParseArServer(const std::string& text, ArServer& out);
// The server the INI store names; false when none is set or it cannot be used.
bool ArServerFrom(const IniStore& ini, ArServer& out);

struct ArLimits {
  int waitMs = 10000;
  int totalMs = 60000;
  std::size_t maxResponseBytes = 1u << 20;
};

struct ArFetch {
  enum class Outcome { Found, NotFound, Failed };
  Outcome outcome = Outcome::Failed;
  std::vector<ArSubmission> submissions;  // with Found
  std::string message;                    // with Failed: what went wrong, in Russian
};

class ArClient {
 public:
  explicit ArClient(ArServer server, ArLimits limits = {})
      : server_(std::move(server)), limits_(limits) {}
  // Run while waiting for the network (keeps a window alive); may be empty.
  void SetPump(std::function<void()> pump) { pump_ = std::move(pump); }

  // The entry of the disc: Found with its submissions, NotFound when the
  // server has none (HTTP 404), Failed for anything else (no connection,
  // time-out, a response too large, another status, an entry that does
  // not parse).
  ArFetch Fetch(const ArDiscIds& ids);

 private:
  ArServer server_;
  ArLimits limits_;
  std::function<void()> pump_;
};

}  // namespace sonarvex
