#include "metadata/CddbClient.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/HttpClient.h"

namespace sonarvex {
namespace {

constexpr int kWsaEinval = 10022;

long long NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string Hex8(std::uint32_t id, bool upper) {
  char text[16];
  std::snprintf(text, sizeof text, upper ? "%08X" : "%08x", id);
  return text;
}

// One line of text from pos: up to the next "\n", without a "\r" before it.
std::string_view NextLine(std::string_view text, std::size_t& pos) {
  std::size_t nl = text.find('\n', pos);
  std::string_view line =
      text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
  pos = nl == std::string_view::npos ? text.size() : nl + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

// Adds the time a request takes to the client's network time.
class RequestTimer {
 public:
  explicit RequestTimer(CddbClient& c) : c_(c) { c_.requestStart_ = NowMs(); }
  ~RequestTimer() {
    c_.spentMs_ += NowMs() - c_.requestStart_;
    c_.requestStart_ = -1;
  }

 private:
  CddbClient& c_;
};

std::string_view ResponseBody(std::string_view response) {
  std::size_t sep = response.find("\r\n\r\n");
  if (sep == std::string_view::npos) return {};
  return response.substr(sep + 4);
}

int ResponseStatusCode(std::string_view response) {
  std::string_view body = ResponseBody(response);
  if (body.empty()) return 0;
  if (body.size() < 3) return -1;
  int code = 0;
  for (int i = 0; i < 3; ++i) {
    if (body[i] < '0' || body[i] > '9') return -1;
    code = code * 10 + (body[i] - '0');
  }
  return code;
}

int HttpStatus(std::string_view response, std::string* line) {
  if (response.substr(0, 5) != "HTTP/") return 0;
  std::size_t pos = 0;
  std::string_view first = NextLine(response, pos);
  std::size_t space = first.find(' ');
  if (space == std::string_view::npos) return -1;
  std::string_view rest = first.substr(space + 1);
  if (rest.size() < 3) return -1;
  int code = 0;
  for (int i = 0; i < 3; ++i) {
    if (rest[i] < '0' || rest[i] > '9') return -1;
    code = code * 10 + (rest[i] - '0');
  }
  if (line) *line = std::string(rest);
  return code;
}

bool IsChunkedResponse(std::string_view response) {
  std::size_t sep = response.find("\r\n\r\n");
  if (sep == std::string_view::npos) return false;
  std::string header(response.substr(0, sep));
  for (char& c : header) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::size_t pos = 0;
  while (pos < header.size()) {
    std::string_view line = NextLine(header, pos);
    if (line.substr(0, 18) != "transfer-encoding:") continue;
    return line.find("chunked") != std::string_view::npos;
  }
  return false;
}

long long ContentLength(std::string_view response) {
  std::size_t sep = response.find("\r\n\r\n");
  if (sep == std::string_view::npos) return -1;
  std::string header(response.substr(0, sep));
  for (char& c : header) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  long long found = -1;
  std::size_t pos = 0;
  while (pos < header.size()) {
    std::string_view line = NextLine(header, pos);
    if (line.substr(0, 15) != "content-length:") continue;
    std::string_view value = line.substr(15);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    if (value.empty() || value.size() > 15) return -2;
    long long n = 0;
    for (char c : value) {
      if (c < '0' || c > '9') return -2;
      n = n * 10 + (c - '0');
    }
    if (found >= 0 && found != n) return -2;
    found = n;
  }
  return found;
}

bool ParseMatchLine(std::string_view line, CDDBQueryResult& out) {
  std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return false;
  std::string_view category = line.substr(0, space);
  std::string_view rest = line.substr(space + 1);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  space = rest.find(' ');
  if (space == std::string_view::npos) return false;
  std::string_view id = rest.substr(0, space);
  rest = rest.substr(space + 1);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  // The title ends at the line break.
  std::size_t end = rest.find("\r\n");
  if (end == std::string_view::npos) end = rest.find('\n');
  if (end != std::string_view::npos) rest = rest.substr(0, end);
  if (rest.empty() || category.empty()) return false;
  if (id.empty() || id.size() > 8 || !std::all_of(id.begin(), id.end(), IsHexDigit)) return false;
  std::uint32_t value = 0;
  for (char c : id) {
    int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  out.category = std::string(category);
  out.discId = value;
  out.title = std::string(rest);
  return true;
}

QueryAnswer ParseQueryResponse(std::string_view response, CddbQueryTable& table,
                               const std::function<void()>& onOverflow) {
  std::string_view body = ResponseBody(response);
  if (body.empty()) return QueryAnswer::Failure;
  const int code = ResponseStatusCode(response);
  auto add = [&](const CDDBQueryResult& match) {
    if (table.count < 0) table.count = 0;
    if (table.count < kCddbMaxMatches) {
      table.entries[table.count++] = match;
    } else if (onOverflow) {
      onOverflow();
    }
  };
  if (code >= 210 && code <= 219) {
    std::size_t pos = 0;
    NextLine(body, pos);  // the status line
    while (pos < body.size()) {
      std::string_view line = NextLine(body, pos);
      CDDBQueryResult match;
      if (ParseMatchLine(line, match)) add(match);
    }
    return table.count > 0 ? QueryAnswer::Matches : QueryAnswer::NoMatch;
  }
  if (code == 200 && body.size() > 5) {
    CDDBQueryResult match;
    if (ParseMatchLine(body.substr(4), match)) add(match);
    return table.count > 0 ? QueryAnswer::Matches : QueryAnswer::NoMatch;
  }
  if (code == 202) return QueryAnswer::NoMatch;
  return QueryAnswer::Failure;
}

std::string Base64Encode(std::string_view data) {
  static const char* kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    std::uint32_t v = (static_cast<unsigned char>(data[i]) << 16) |
                      (static_cast<unsigned char>(data[i + 1]) << 8) |
                      static_cast<unsigned char>(data[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < data.size()) {
    std::uint32_t v = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size()) v |= static_cast<unsigned char>(data[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < data.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string HelloField(std::string_view name) {
  std::string out;
  for (std::size_t i = 0; i < name.size();) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // One underscore per character: skip the continuation bytes of a UTF-8
    // sequence.
    std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 1;
    std::size_t len = 1;
    while (len < n && i + len < name.size() &&
           (static_cast<unsigned char>(name[i + len]) & 0xC0) == 0x80)
      ++len;
    if (len != n) len = 1;
    out += '_';
    i += len;
  }
  return out;
}

CddbClient::CddbClient(Dialogs& dialogs, CddbLimits limits) : dialogs_(dialogs), limits_(limits) {}

CddbClient::~CddbClient() = default;

void CddbClient::SetProxy(const std::string& host, std::int32_t port, const std::string& user,
                          const std::string& password) {
  proxyHost_ = host;
  proxyPort_ = port;
  proxyUser_ = user;
  proxyPassword_ = password;
}

std::string CddbClient::UserName() {
  std::string name;
  std::vector<char> buffer(16384);
  struct passwd pw{};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_name && std::strlen(found->pw_name) < 260)
    name = found->pw_name;
  if (name.empty()) {
    char login[260] = {};
    if (::getlogin_r(login, sizeof login) == 0) name = login;
  }
  if (name.empty()) return "Unknown";
  return HelloField(name);
}

std::string CddbClient::HostName() {
  char host[260] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == 0) return "Unknown";
  return HelloField(host);
}

std::string CddbClient::HelloText() {
  return "hello=" + UserName() + "+" + HostName() + "+" + kCddbClientName + "+" +
         kCddbClientVersion + "&proto=" + std::to_string(kCddbProtocolLevel);
}

std::string CddbClient::HostHeader(const CddbServer& server) const {
  std::string host = server.host.find(':') != std::string::npos ? "[" + server.host + "]" : server.host;
  if (server.port != 80) host += ":" + std::to_string(server.port);
  return "Host: " + host;
}

std::string CddbClient::ProxyHeaderLines(const CddbServer& server) const {
  if (!proxyUser_.empty())
    return "Proxy-Authorization: Basic " + Base64Encode(proxyUser_ + ":" + proxyPassword_) +
           "\r\n" + HostHeader(server);
  return HostHeader(server);
}

std::string CddbClient::QueryTarget(const CddbServer& server, std::uint32_t discId,
                                    const CddbTocTable& toc) {
  int count = std::clamp<int>(toc.count, 1, 100);
  int n = count - 1;
  std::string args = "?cmd=cddb+query+" + Hex8(discId, false) + "+" + std::to_string(n) + "+";
  for (int i = 0; i < n; ++i) {
    const CddbTocEntry& e = toc.entries[i];
    if (i > 0) args += "+";
    args += std::to_string(e.minutes * 4500 + e.seconds * 75 + e.frames);
  }
  const CddbTocEntry& leadOut = toc.entries[n];
  args += "+" + std::to_string(leadOut.minutes * 60 + leadOut.seconds);
  return server.cgiPath + args + "&" + HelloText();
}

std::string CddbClient::ReadTarget(const CddbServer& server, std::uint32_t discId,
                                   const std::string& category) {
  return server.cgiPath + "?cmd=cddb+read+" + category + "+" + Hex8(discId, true) + "&" +
         HelloText();
}

std::string CddbClient::RequestText(const CddbServer& server, const std::string& target) const {
  if (proxyHost_.empty()) return "GET " + target + " HTTP/1.0\r\n\r\n";
  CddbServer to = server;
  if (to.port <= 0 || to.port > 65535) to.port = 80;
  return "GET " + HttpUrl(to.host, to.port, target) + " HTTP/1.0\r\n" + ProxyHeaderLines(to) +
         "\r\n\r\n";
}

std::string CddbClient::QueryRequest(const CddbServer& server, std::uint32_t discId,
                                     const CddbTocTable& toc) {
  return RequestText(server, QueryTarget(server, discId, toc));
}

std::string CddbClient::ReadRequest(const CddbServer& server, std::uint32_t discId,
                                    const std::string& category) {
  return RequestText(server, ReadTarget(server, discId, category));
}

std::string CddbClient::Peer(const CddbServer& server) const {
  if (!proxyHost_.empty())
    return "прокси-сервер " + proxyHost_ + ":" + std::to_string(proxyPort_);
  return "сервер " + server.host + ":" + std::to_string(server.port);
}

bool CddbClient::Fail(const std::string& reason) {
  if (failure_.empty()) failure_ = reason;
  return false;
}

bool CddbClient::CheckHttpStatus(const CddbServer& server, std::string_view response) {
  std::string line;
  const int status = HttpStatus(response, &line);
  if (status == 0 || status == 200) return true;
  if (status < 0) return Fail(Peer(server) + ": ответ не по протоколу HTTP");
  return Fail(Peer(server) + " ответил: HTTP " + line);
}

long long CddbClient::BudgetLeftMs() const {
  long long spent = spentMs_;
  if (requestStart_ >= 0) spent += NowMs() - requestStart_;
  return std::max<long long>(0, limits_.totalMs - spent);
}

namespace {

// In the query's status-check mode: whether body is a whole answer whose
// status is not 210..219 (those end with the terminator). Before the server
// has closed, the status line must be whole.
bool CompleteByStatus(std::string_view body, bool closed) {
  if (!closed && body.find('\n') == std::string_view::npos) return false;
  if (body.size() < 3) return false;
  int code = 0;
  for (int i = 0; i < 3; ++i) {
    if (body[i] < '0' || body[i] > '9') return true;  // not a status: nothing more to wait for
    code = code * 10 + (body[i] - '0');
  }
  return code < 210 || code > 219;
}

}  // namespace

bool CddbClient::Fetch(const CddbServer& server, const std::string& target, bool statusCheck,
                       std::string& response, bool* sendFailed) {
  const bool viaProxy = !proxyHost_.empty();
  // Through a proxy the server's port only matters when it is one: the
  // proxy is what is connected to.
  CddbServer to = server;
  if (viaProxy && (to.port <= 0 || to.port > 65535)) to.port = 80;
  if (to.port <= 0 || to.port > 65535 || (viaProxy && (proxyPort_ <= 0 || proxyPort_ > 65535))) {
    lastError_ = kWsaEinval;
    return Fail(peer_ + ": неверный номер порта");
  }
  HttpRequest request;
  request.url = HttpUrl(to.host, to.port, target);
  if (request.url.empty() || (viaProxy && HttpUrl(proxyHost_, proxyPort_, "/").empty())) {
    lastError_ = kWsaEinval;
    return Fail(peer_ + ": адрес не найден");
  }
  const long long budget = BudgetLeftMs();
  if (budget <= 0) {
    lastError_ = ETIMEDOUT;
    return Fail(peer_ + ": время ожидания ответа истекло");
  }
  if (viaProxy) {
    request.proxy = {proxyHost_, proxyPort_, proxyUser_, proxyPassword_};
    // What the proxy receives: the absolute address, the authorisation and
    // the server's name last ("Host:" alone takes away the one the HTTP
    // client would put first; the named one then comes after the others).
    request.headers = {"Host:", "Proxy-Connection:", HostHeader(to)};
  }
  request.limits.waitMs = limits_.waitMs;
  request.limits.totalMs = budget;
  request.limits.maxResponseBytes = limits_.maxResponseBytes;
  request.limits.pumpIntervalMs = limits_.pumpIntervalMs;
  request.pump = pump_;
  const std::string_view terminator = kCddbTerminator;
  std::size_t searched = 0;  // the terminator search resumes here
  request.complete = [&](std::string_view body) {
    if (body.find(terminator, searched) != std::string_view::npos) return true;
    searched = body.size() >= terminator.size() ? body.size() - terminator.size() + 1 : 0;
    return statusCheck && CompleteByStatus(body, false);
  };

  HttpResult r = HttpGet(request);
  std::string body = std::move(r.body);
  if (std::size_t at = body.find(terminator); at != std::string::npos) body.resize(at);
  response = r.header + body;
  switch (r.failure) {
    case HttpFailure::None:
    case HttpFailure::ClosedEarly:
    case HttpFailure::ReceiveFailed: {
      if (r.failure == HttpFailure::ReceiveFailed) lastError_ = r.osError;
      // An error status names the cause better than an answer cut short.
      if (r.status != 200 && r.status != 0) return CheckHttpStatus(server, response);
      // A status answer that the server ended by closing is still complete
      // (a read answer then fails on its status, which names the cause); so
      // is a chunked one whose last chunk came.
      if (r.endedEarly || CompleteByStatus(body, true) ||
          (r.failure == HttpFailure::None && IsChunkedResponse(r.header)))
        return true;
      return Fail(peer_ + ": соединение закрыто до конца ответа");
    }
    case HttpFailure::NothingReceived:
      return Fail(peer_ + ": соединение закрыто без ответа");
    case HttpFailure::BadAddress:
    case HttpFailure::NotResolved:
      lastError_ = kWsaEinval;
      return Fail(peer_ + ": адрес не найден");
    case HttpFailure::ConnectFailed: {
      const int error = r.osError;
      lastError_ = error;
      return Fail(peer_ + ": " + (error == ECONNREFUSED  ? std::string("соединение отклонено")
                                  : error == ETIMEDOUT   ? std::string("время ожидания истекло")
                                  : error == EHOSTUNREACH || error == ENETUNREACH
                                      ? std::string("нет маршрута к серверу")
                                      : std::string(std::strerror(error))));
    }
    case HttpFailure::WaitTimedOut:
    case HttpFailure::TotalTimedOut:
      lastError_ = ETIMEDOUT;
      return Fail(peer_ + ": время ожидания ответа истекло");
    case HttpFailure::TooLarge:
      lastError_ = EMSGSIZE;
      return Fail(peer_ + ": ответ больше " + std::to_string(limits_.maxResponseBytes / 1024) +
                  " КБ");
    case HttpFailure::SendFailed:
      lastError_ = r.osError;
      if (sendFailed) *sendFailed = true;
      return Fail(peer_ + ": запрос не отправлен (" + std::strerror(r.osError) + ")");
    case HttpFailure::NotHttp:
      return Fail(peer_ + ": ответ не по протоколу HTTP");
    default:
      return Fail(peer_ + ": " + HttpFailureText(r));
  }
}

bool CddbClient::Query(const CddbServer& server, std::uint32_t discId, const CddbTocTable& toc,
                       CddbQueryTable& table, bool& sendFailed) {
  RequestTimer timer(*this);
  sendFailed = false;
  failure_.clear();
  peer_ = Peer(server);
  std::string response;
  if (!Fetch(server, QueryTarget(server, discId, toc), true, response, &sendFailed)) return false;
  if (!CheckHttpStatus(server, response)) return false;
  // Matches beyond the table are reported once, not once each.
  bool overflowShown = false;
  QueryAnswer answer = ParseQueryResponse(response, table, [this, &overflowShown] {
    if (overflowShown) return;
    overflowShown = true;
    dialogs_.Message("Error adding CDDBQueryResult in table", "", MsgIcon::None, MsgButtons::Ok);
  });
  if (answer == QueryAnswer::Failure) {
    std::size_t pos = 0;
    std::string_view status = NextLine(ResponseBody(response), pos);
    return Fail(peer_ + (status.empty() ? std::string(": пустой ответ")
                                        : " ответил: " + std::string(status.substr(0, 200))));
  }
  return true;
}

bool CddbClient::Read(const CddbServer& server, std::uint32_t discId,
                      const std::string& category) {
  failure_.clear();
  if (!readHandler_) return false;
  peer_ = Peer(server);
  std::string response;
  {
    RequestTimer timer(*this);
    if (!Fetch(server, ReadTarget(server, discId, category), false, response, nullptr))
      return false;
  }
  if (!CheckHttpStatus(server, response)) return false;
  // An answer without a header/body separator carries no record; a read
  // answer is "210 ..." and nothing else.
  if (response.find("\r\n\r\n") == std::string::npos)
    return Fail(peer_ + ": ответ без заголовка HTTP");
  if (ResponseStatusCode(response) != 210) {
    std::size_t pos = 0;
    std::string_view status = NextLine(ResponseBody(response), pos);
    return Fail(peer_ + (status.empty() ? std::string(": пустой ответ")
                                        : " ответил: " + std::string(status.substr(0, 200))));
  }
  if (!readHandler_(ResponseBody(response)))
    return Fail(peer_ + ": в ответе нет названий диска");
  return true;
}

}  // namespace sonarvex
