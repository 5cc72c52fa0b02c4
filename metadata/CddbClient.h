// The client side of the CDDB protocol carried over HTTP/1.0 ("cddb.cgi"): a
// query that lists the database entries matching a disc, and a read that
// fetches one entry as an xmcd record. Requests go through the program's HTTP
// client (platform/HttpClient.h) to the server directly or through an HTTP
// proxy with optional Basic authorisation; each request has its own
// connection, closed before it returns.
//
// Network input is bounded: each wait for data lasts at most CddbLimits::waitMs,
// all the waits of one client together at most CddbLimits::totalMs, and a
// response may not grow beyond CddbLimits::maxResponseBytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "metadata/DiscId.h"

namespace sonarvex {

class Dialogs;

// Offered when the server fields of the settings are empty.
inline constexpr const char* kDefaultCddbHost = "gnudb.gnudb.org";
inline constexpr const char* kDefaultCddbPath = "/~cddb/cddb.cgi";

inline constexpr const char* kCddbClientName = "Sonarvex";
inline constexpr const char* kCddbClientVersion = "3.x";
inline constexpr int kCddbProtocolLevel = 5;
inline constexpr const char* kCddbTerminator = "\r\n.\r\n";

struct CddbServer {
  std::int32_t port = 80;
  std::string cgiPath;  // "/~cddb/cddb.cgi"
  std::string host;
};

// One match of a query.
struct CDDBQueryResult {
  std::string category;
  std::uint32_t discId = 0;
  std::string title;  // "Artist / Album" for CDDB
};

inline constexpr int kCddbMaxMatches = 100;

struct CddbQueryTable {
  CDDBQueryResult entries[kCddbMaxMatches];
  std::int32_t count = 0;
};

struct CddbLimits {
  int waitMs = 5000;                        // longest wait for each piece of a response
  int totalMs = 60000;                      // all network time of one client
  std::size_t maxResponseBytes = 1u << 20;  // a larger response is a failed receive
  int pumpIntervalMs = 50;                  // how often the message pump runs while waiting
};

// --- The response parsers (no network, used by the client and the fuzzers) ---

// The text after the first "\r\n\r\n"; empty when there is none.
std::string_view ResponseBody(std::string_view response);
// The status code of a response: the decimal value of the first three
// characters of its body; 0 when the body is missing or empty, -1 when it is
// shorter than three characters or they are not digits.
int ResponseStatusCode(std::string_view response);
// One match line "category discid title"; false when a part is missing or the
// identifier is not 1 to 8 hexadecimal digits.
bool ParseMatchLine(std::string_view line, CDDBQueryResult& out);

// The status of the HTTP header of a response ("HTTP/1.1 500 Internal Server
// Error" gives 500 and "500 Internal Server Error" in *line); 0 when the
// response does not start with an HTTP status line.
int HttpStatus(std::string_view response, std::string* line = nullptr);
// Whether the header says the body is sent in chunks (Transfer-Encoding: chunked).
bool IsChunkedResponse(std::string_view response);
// The body length the header announces (Content-Length); -1 when the header
// has none, -2 when its value is not a decimal number (or two values differ).
long long ContentLength(std::string_view response);

enum class QueryAnswer { Failure, NoMatch, Matches };
// Fills the table from a whole query response (HTTP header included, the
// terminator already cut). A match beyond the table's capacity is refused and
// onOverflow is called for it.
QueryAnswer ParseQueryResponse(std::string_view response, CddbQueryTable& table,
                               const std::function<void()>& onOverflow);

// RFC 4648 Base64, standard alphabet, one unbroken token.
std::string Base64Encode(std::string_view data);
// A hello field: every character that is not an ASCII letter or digit becomes
// "_" (a multi-byte UTF-8 character is one character).
std::string HelloField(std::string_view name);

class CddbClient {
 public:
  // Receives the body of a successful read; its result is the read's result.
  using ReadHandler = std::function<bool(std::string_view body)>;

  explicit CddbClient(Dialogs& dialogs, CddbLimits limits = {});
  virtual ~CddbClient();
  CddbClient(const CddbClient&) = delete;
  CddbClient& operator=(const CddbClient&) = delete;

  void SetReadHandler(ReadHandler handler) { readHandler_ = std::move(handler); }
  // Run while the client waits for the network (keeps the windows alive).
  void SetPump(std::function<void()> pump) { pump_ = std::move(pump); }
  void SetProxy(const std::string& host, std::int32_t port, const std::string& user,
                const std::string& password);

  virtual std::string HelloText();
  virtual std::string UserName();
  virtual std::string HostName();

  // Outcomes: sendFailed set and false (every send attempt failed), false
  // (no connection, time-out, error status), true with an empty table (no
  // match), true with 1 to 100 entries.
  bool Query(const CddbServer& server, std::uint32_t discId, const CddbTocTable& toc,
             CddbQueryTable& table, bool& sendFailed);
  // Passes the body of the answer to the read handler and returns its result;
  // false when the request failed or there is no handler.
  bool Read(const CddbServer& server, std::uint32_t discId, const std::string& category);

  // The request lines and the headers of this client (the HTTP client adds
  // its own: Host when not through a proxy, User-Agent, Accept).
  std::string QueryRequest(const CddbServer& server, std::uint32_t discId, const CddbTocTable& toc);
  std::string ReadRequest(const CddbServer& server, std::uint32_t discId,
                          const std::string& category);

  // The last network error (an errno value, or 10022 when a host name could
  // not be resolved).
  int LastError() const { return lastError_; }
  // Why the last request failed, for the user (UTF-8, names the server);
  // empty after a request that succeeded.
  const std::string& FailureReason() const { return failure_; }
  // Network time left for this client, in milliseconds.
  long long BudgetLeftMs() const;

 private:
  // Path and query of the requests.
  std::string QueryTarget(const CddbServer& server, std::uint32_t discId, const CddbTocTable& toc);
  std::string ReadTarget(const CddbServer& server, std::uint32_t discId,
                         const std::string& category);
  std::string RequestText(const CddbServer& server, const std::string& target) const;
  // Fetches one answer into response (header and body, the body cut at the
  // terminator). statusCheck: the query's mode, in which an answer whose
  // status is not 210..219 is complete after its status line. *sendFailed
  // is set when the request could not be sent.
  bool Fetch(const CddbServer& server, const std::string& target, bool statusCheck,
             std::string& response, bool* sendFailed);
  std::string HostHeader(const CddbServer& server) const;
  std::string ProxyHeaderLines(const CddbServer& server) const;
  // The server (or proxy) the requests go to, as the failure texts name it.
  std::string Peer(const CddbServer& server) const;
  bool Fail(const std::string& reason);
  // Checks the HTTP status of a whole response; false (with the reason) when
  // it is not 200.
  bool CheckHttpStatus(const CddbServer& server, std::string_view response);

  Dialogs& dialogs_;
  CddbLimits limits_;
  ReadHandler readHandler_;
  std::function<void()> pump_;
  std::string proxyHost_;
  std::int32_t proxyPort_ = 80;
  std::string proxyUser_;
  std::string proxyPassword_;
  int lastError_ = 0;
  std::string failure_;
  std::string peer_;  // of the running request, for Fetch's failures
  // Network time: what finished requests used, and when the running one began
  // (steady clock, ms; -1 when none runs).
  long long spentMs_ = 0;
  long long requestStart_ = -1;
  friend class RequestTimer;
};

}  // namespace sonarvex
