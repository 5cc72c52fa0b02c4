// The program's one HTTP client (libcurl underneath): a GET of an http:// or
// https:// address, directly or through an HTTP proxy with Basic
// authorisation. Every request is bounded: a wait for data once connected
// lasts at most waitMs, the whole request at most totalMs, and the response
// (header and body) may not grow beyond maxResponseBytes. Redirects are
// followed a few times, to http:// and https:// only; HTTPS checks the
// server's certificate and name. Every request names the program and its
// version in its User-Agent. The environment's proxy variables are not used:
// the proxy is the one the caller names.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sonarvex {

// "Sonarvex/<version>", the version as the build defines it.
std::string HttpUserAgent();

// An http:// address of host (an IPv6 address gets its brackets), port (left
// out when it is 80) and target (path and query; characters that may not
// stand in an address are percent-encoded). Empty when host cannot be the
// host of an address (empty, or with characters no host name has).
std::string HttpUrl(const std::string& host, int port, std::string_view target);

inline constexpr int kHttpMaxRedirects = 5;

struct HttpProxy {
  std::string host;  // empty: no proxy
  int port = 80;
  std::string user;  // empty: no authorisation
  std::string password;
};

struct HttpLimits {
  int waitMs = 5000;          // longest wait for data once connected
  long long totalMs = 60000;  // the whole request, connecting included
  long long connectMs = 0;    // connecting; 0: bounded by totalMs alone
  std::size_t maxResponseBytes = 1u << 20;
  int pumpIntervalMs = 50;    // how often the pump runs while waiting
};

struct HttpRequest {
  std::string url;
  // "Name: value" lines sent after the client's own, in this order; "Name:"
  // alone removes a header the client would send.
  std::vector<std::string> headers;
  bool http10 = true;  // HTTP/1.0 (one request per connection) or HTTP/1.1
  HttpProxy proxy;
  HttpLimits limits;
  std::function<void()> pump;  // may be empty
  // Called with the body received so far (chunked bodies decoded); true
  // ends the transfer there, as a complete answer.
  std::function<bool(std::string_view body)> complete;
};

enum class HttpFailure {
  None,
  BadAddress,          // the address cannot be used
  NotResolved,         // the host (or proxy) name was not found
  ConnectFailed,       // osError says why
  WaitTimedOut,        // no data for waitMs
  TotalTimedOut,       // the request ran out of totalMs (or connectMs)
  TooLarge,            // more than maxResponseBytes
  ClosedEarly,         // closed before the announced length or the last chunk
  NothingReceived,     // closed without a byte of answer
  NotHttp,             // the answer is not HTTP
  CertificateRefused,  // HTTPS: the certificate was not accepted
  TlsFailed,           // HTTPS: no secure connection for another reason
  TooManyRedirects,
  RedirectRefused,     // a redirect to another scheme than http:// or https://
  SendFailed,
  ReceiveFailed,
  Other,
};

struct HttpResult {
  HttpFailure failure = HttpFailure::None;
  bool connected = false;  // a connection to the server (or proxy) was made
  bool endedEarly = false; // the complete callback ended the transfer
  int osError = 0;         // errno of a failed connect, send or receive
  std::string detail;      // libcurl's own words on a failure (English)
  std::string url;         // the address the answer (or failure) came from
  int status = 0;          // of the final response, 0 before any
  std::string header;      // the final response's header, its blank line included
  std::string body;        // the body as received so far (decoded from chunks)

  bool Ok() const { return failure == HttpFailure::None; }
  // The header and the body together, as the answer's parsers read it.
  std::string Response() const { return header + body; }
};

HttpResult HttpGet(const HttpRequest& request);

// Opens the HTTP library now rather than in the first HttpGet (which then
// fails by itself when it is missing). A client that spaces its requests
// calls it before taking its time, so that the opening does not delay the
// first request into the next one's turn.
void PrepareHttp();

// A reason in Russian for the failures that have no text of their own in the
// callers (certificates, TLS, redirects, addresses), naming the address
// concerned when it is not the one asked; empty for other failures.
std::string HttpFailureText(const HttpResult& result);

}  // namespace sonarvex
