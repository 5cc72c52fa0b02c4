#include "platform/HttpClient.h"

#include "platform/Version.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/CurlFunctions.h"


namespace sonarvex {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Opens libcurl on the first request; false when it is missing.
bool InitCurlOnce() {
  if (!curl::Available()) return false;
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  return true;
}

bool HostCharacterOk(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_' || c == ':' || c == '%';
}

// The state of one transfer, shared with libcurl's callbacks.
struct Transfer {
  const HttpRequest* request = nullptr;
  HttpResult* result = nullptr;
  std::size_t received = 0;  // header and body bytes of all responses
  bool tooLarge = false;
  Clock::time_point lastData;
  bool armed = false;  // the wait for data is being timed (connected)

  bool Count(std::size_t n) {
    received += n;
    lastData = Clock::now();
    armed = true;
    if (received > request->limits.maxResponseBytes) tooLarge = true;
    return !tooLarge;
  }
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const std::size_t n = size * count;
  if (!t.Count(n)) return 0;
  std::string_view line(data, n);
  if (line.substr(0, 5) == "HTTP/") {
    // A new response (after a redirect or an interim 1xx one) starts afresh.
    t.result->header.clear();
    t.result->body.clear();
    t.result->status = 0;
    const std::size_t space = line.find(' ');
    if (space != std::string_view::npos && line.size() >= space + 4) {
      int code = 0;
      bool digits = true;
      for (std::size_t i = space + 1; i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') digits = false;
        else code = code * 10 + (line[i] - '0');
      }
      if (digits) t.result->status = code;
    }
  }
  // Lines end in CR LF for the parsers, whatever the server sent.
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  t.result->header.append(line);
  t.result->header.append("\r\n");
  return n;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const std::size_t n = size * count;
  if (!t.Count(n)) return 0;
  t.result->body.append(data, n);
  if (t.request->complete && t.request->complete(t.result->body)) {
    t.result->endedEarly = true;
    return 0;  // ends the transfer; taken as complete below
  }
  return n;
}

// The host (and port) of an address, for the texts.
std::string HostOf(const std::string& url) {
  std::size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  std::size_t end = url.find_first_of("/?#", start);
  std::string host = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  if (std::size_t at = host.rfind('@'); at != std::string::npos) host.erase(0, at + 1);
  return host;
}

HttpFailure Classify(CURLcode code, const Transfer& t) {
  switch (code) {
    case CURLE_OK:
      return HttpFailure::None;
    case CURLE_WRITE_ERROR:
      if (t.result->endedEarly) return HttpFailure::None;
      if (t.tooLarge) return HttpFailure::TooLarge;
      return HttpFailure::Other;
    case CURLE_URL_MALFORMAT:
      return HttpFailure::BadAddress;
    case CURLE_UNSUPPORTED_PROTOCOL:
      // After a redirect: its address has another scheme. Without any
      // status line: the server's answer is not HTTP (HTTP/0.9 is refused).
      if (t.result->status >= 300 && t.result->status < 400) return HttpFailure::RedirectRefused;
      if (t.received > 0) return HttpFailure::NotHttp;
      return HttpFailure::BadAddress;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return HttpFailure::NotResolved;
    case CURLE_COULDNT_CONNECT:
      return HttpFailure::ConnectFailed;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpFailure::TotalTimedOut;
    case CURLE_TOO_MANY_REDIRECTS:
      return HttpFailure::TooManyRedirects;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return HttpFailure::CertificateRefused;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_USE_SSL_FAILED:
      return HttpFailure::TlsFailed;
    case CURLE_PARTIAL_FILE:
      return HttpFailure::ClosedEarly;
    case CURLE_GOT_NOTHING:
      return HttpFailure::NothingReceived;
    case CURLE_WEIRD_SERVER_REPLY:
      return HttpFailure::NotHttp;
    case CURLE_SEND_ERROR:
      return HttpFailure::SendFailed;
    case CURLE_RECV_ERROR:
      return HttpFailure::ReceiveFailed;
    default:
      return HttpFailure::Other;
  }
}

struct EasyDeleter {
  void operator()(CURL* e) const { curl_easy_cleanup(e); }
};
struct MultiDeleter {
  void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct ListDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

std::string HttpUserAgent() { return std::string("Sonarvex/") + SONARVEX_VERSION; }

std::string HttpUrl(const std::string& host, int port, std::string_view target) {
  if (host.empty() || !std::all_of(host.begin(), host.end(), HostCharacterOk)) return {};
  if (port < 1 || port > 65535) return {};
  std::string url = "http://";
  url += host.find(':') != std::string::npos ? "[" + host + "]" : host;
  if (port != 80) url += ":" + std::to_string(port);
  if (target.empty() || target.front() != '/') url += '/';
  static constexpr std::string_view kUnsafe = " \"#<>\\^`{|}";
  for (char c : target) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || kUnsafe.find(c) != std::string_view::npos) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", u);
      url += hex;
    } else {
      url += c;
    }
  }
  return url;
}

void PrepareHttp() { InitCurlOnce(); }

HttpResult HttpGet(const HttpRequest& request) {
  HttpResult result;
  result.url = request.url;
  if (!InitCurlOnce()) {
    result.failure = HttpFailure::Other;
    result.detail = curl::Error();
    return result;
  }
  const HttpLimits& limits = request.limits;
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!easy || !multi) {
    result.failure = HttpFailure::Other;
    result.detail = "libcurl could not be initialised";
    return result;
  }
  CURL* e = easy.get();
  char error[CURL_ERROR_SIZE] = {};
  Transfer t;
  t.request = &request;
  t.result = &result;

  std::unique_ptr<curl_slist, ListDeleter> headers;
  for (const std::string& h : request.headers) {
    curl_slist* grown = curl_slist_append(headers.get(), h.c_str());
    if (!grown) break;
    headers.release();
    headers.reset(grown);
  }

  curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, static_cast<long>(kHttpMaxRedirects));
  curl_easy_setopt(e, CURLOPT_USERAGENT, HttpUserAgent().c_str());
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION,
                   request.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
  if (headers) curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
  // "" keeps libcurl from taking a proxy from the environment.
  curl_easy_setopt(e, CURLOPT_PROXY, request.proxy.host.c_str());
  if (!request.proxy.host.empty()) {
    curl_easy_setopt(e, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    curl_easy_setopt(e, CURLOPT_PROXYPORT, static_cast<long>(request.proxy.port));
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (!request.proxy.user.empty()) {
      curl_easy_setopt(e, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
      curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, request.proxy.user.c_str());
      curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, request.proxy.password.c_str());
    }
  }
  const long long totalMs = std::max<long long>(1, limits.totalMs);
  const long long connectMs =
      limits.connectMs > 0 ? std::min(limits.connectMs, totalMs) : totalMs;
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectMs));

  const Clock::time_point start = Clock::now();
  Clock::time_point lastPump = start;
  const int waitMs = std::max(1, limits.waitMs);
  const int pumpMs = std::max(1, limits.pumpIntervalMs);
  curl_multi_add_handle(multi.get(), e);
  bool finished = false;
  CURLcode code = CURLE_OK;
  for (;;) {
    int running = 0;
    curl_multi_perform(multi.get(), &running);
    int left = 0;
    while (CURLMsg* m = curl_multi_info_read(multi.get(), &left)) {
      if (m->msg == CURLMSG_DONE && m->easy_handle == e) {
        finished = true;
        code = m->data.result;
      }
    }
    if (finished || running == 0) break;
    if (!t.armed) {
      curl_off_t connectUs = 0;
      if (curl_easy_getinfo(e, CURLINFO_CONNECT_TIME_T, &connectUs) == CURLE_OK && connectUs > 0) {
        t.armed = true;
        t.lastData = Clock::now();
      }
    }
    const long long elapsed = MsSince(start);
    if (elapsed >= totalMs) {
      result.failure = HttpFailure::TotalTimedOut;
      break;
    }
    long long slice = std::min<long long>(pumpMs, totalMs - elapsed);
    if (t.armed) {
      const long long idle = MsSince(t.lastData);
      if (idle >= waitMs) {
        result.failure = HttpFailure::WaitTimedOut;
        break;
      }
      slice = std::min<long long>(slice, waitMs - idle);
    }
    curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(std::max<long long>(1, slice)),
                    nullptr);
    if (request.pump && MsSince(lastPump) >= pumpMs) {
      request.pump();
      lastPump = Clock::now();
    }
  }

  curl_off_t connectUs = 0;
  result.connected = t.armed || (curl_easy_getinfo(e, CURLINFO_CONNECT_TIME_T, &connectUs) ==
                                     CURLE_OK && connectUs > 0);
  if (const char* where = nullptr;
      curl_easy_getinfo(e, CURLINFO_EFFECTIVE_URL, &where) == CURLE_OK && where)
    result.url = where;
  if (result.failure == HttpFailure::None && finished) {
    result.failure = Classify(code, t);
    if (result.failure != HttpFailure::None) result.detail = error[0] ? error : curl_easy_strerror(code);
    long os = 0;
    if (curl_easy_getinfo(e, CURLINFO_OS_ERRNO, &os) == CURLE_OK) result.osError = static_cast<int>(os);
    if (result.failure == HttpFailure::RedirectRefused) {
      const char* next = nullptr;
      if (curl_easy_getinfo(e, CURLINFO_REDIRECT_URL, &next) == CURLE_OK && next) result.url = next;
    }
    if (result.failure == HttpFailure::ConnectFailed && result.osError == 0)
      result.osError = ECONNREFUSED;
  } else if (result.failure == HttpFailure::None) {
    result.failure = HttpFailure::Other;
    result.detail = "the transfer stopped without a result";
  }
  curl_multi_remove_handle(multi.get(), e);
  return result;
}

std::string HttpFailureText(const HttpResult& r) {
  const std::string host = HostOf(r.url);
  switch (r.failure) {
    case HttpFailure::BadAddress:
      return "неверный адрес " + r.url;
    case HttpFailure::CertificateRefused:
      return "сертификат сервера " + host + " не принят (" + r.detail + ")";
    case HttpFailure::TlsFailed:
      return "защищённое соединение с " + host + " не установлено (" + r.detail + ")";
    case HttpFailure::TooManyRedirects:
      return "больше " + std::to_string(kHttpMaxRedirects) + " перенаправлений подряд";
    case HttpFailure::RedirectRefused:
      return "перенаправление на " + r.url.substr(0, 200) + " не принято: допустимы только адреса http:// и https://";
    case HttpFailure::Other:
      return "ошибка сети (" + r.detail + ")";
    default:
      return {};
  }
}

}  // namespace sonarvex
