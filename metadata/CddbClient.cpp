#include "metadata/CddbClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/Dialogs.h"

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

std::string DecodeChunked(std::string_view body, bool* complete) {
  std::string out;
  *complete = false;
  std::size_t pos = 0;
  for (;;) {
    std::size_t eol = body.find("\r\n", pos);
    if (eol == std::string_view::npos) return out;  // size line not complete yet
    std::string_view sizeLine = body.substr(pos, eol - pos);
    std::size_t size = 0;
    std::size_t digits = 0;
    for (char c : sizeLine) {
      if (!IsHexDigit(c)) break;  // ";" starts an extension
      if (size > (std::size_t(1) << 40)) return out;
      size = size * 16 + static_cast<std::size_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
      ++digits;
    }
    if (digits == 0) return out;  // not a chunk: stop at what was decoded
    pos = eol + 2;
    if (size == 0) {
      *complete = true;  // trailers, if any, are not needed
      return out;
    }
    if (body.size() - pos < size) {
      out.append(body.substr(pos));  // the chunk so far
      return out;
    }
    out.append(body.substr(pos, size));
    pos += size;
    if (body.size() - pos < 2) return out;
    pos += 2;  // the chunk's CR LF
  }
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

std::string CddbClient::ProxyHeaderLines(const CddbServer& server) const {
  if (!proxyUser_.empty())
    return "Proxy-Authorization: Basic " + Base64Encode(proxyUser_ + ":" + proxyPassword_) +
           "\r\nHost: " + server.host;
  return "Host: " + server.host;
}

std::string CddbClient::QueryRequest(const CddbServer& server, std::uint32_t discId,
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
  args += "&" + HelloText();
  if (proxyHost_.empty()) return "GET " + server.cgiPath + args + " HTTP/1.0\r\n\r\n";
  return "GET http://" + server.host + server.cgiPath + args + " HTTP/1.0\r\n" +
         ProxyHeaderLines(server) + "\r\n\r\n";
}

std::string CddbClient::ReadRequest(const CddbServer& server, std::uint32_t discId,
                                    const std::string& category) {
  std::string args = "?cmd=cddb+read+" + category + "+" + Hex8(discId, true) + "&" + HelloText();
  if (proxyHost_.empty()) return "GET " + server.cgiPath + args + " HTTP/1.0\r\n\r\n";
  return "GET http://" + server.host + server.cgiPath + args + " HTTP/1.0\r\n" +
         ProxyHeaderLines(server) + "\r\n\r\n";
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

bool CddbClient::WaitFor(int socket, short events, int maxMs) {
  const long long start = NowMs();
  for (;;) {
    long long left = std::min<long long>(maxMs - (NowMs() - start), BudgetLeftMs());
    if (left <= 0) {
      lastError_ = ETIMEDOUT;
      return Fail(peer_ + ": время ожидания ответа истекло");
    }
    int slice = static_cast<int>(std::min<long long>(left, std::max(1, limits_.pumpIntervalMs)));
    struct pollfd p{socket, events, 0};
    int r = ::poll(&p, 1, slice);
    if (r < 0) {
      if (errno == EINTR) continue;
      lastError_ = errno;
      return Fail(peer_ + ": " + std::strerror(errno));
    }
    // Errors and hang-ups count as ready: the following connect check, send
    // or recv reports them.
    if (r > 0) return true;
    if (pump_) pump_();
  }
}

void CddbClient::CloseSocket(int& socket) {
  if (socket >= 0) ::close(socket);
  socket = -1;
}

int CddbClient::Connect(const CddbServer& server) {
  const bool viaProxy = !proxyHost_.empty();
  const std::string& host = viaProxy ? proxyHost_ : server.host;
  const int port = viaProxy ? proxyPort_ : server.port;
  if (port <= 0 || port > 65535) {
    lastError_ = kWsaEinval;
    Fail(peer_ + ": неверный номер порта");
    return -1;
  }
  struct sockaddr_storage address{};
  socklen_t addressLength = 0;
  struct in_addr v4{};
  if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) {
    auto* sin = reinterpret_cast<sockaddr_in*>(&address);
    sin->sin_family = AF_INET;
    sin->sin_addr = v4;
    sin->sin_port = htons(static_cast<std::uint16_t>(port));
    addressLength = sizeof(sockaddr_in);
  } else {
    struct addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* list = nullptr;
    const int found = host.empty() ? EAI_NONAME : ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (found != 0 || !list) {
      if (list) ::freeaddrinfo(list);
      lastError_ = kWsaEinval;
      Fail(peer_ + ": адрес не найден" +
           (found != 0 && found != EAI_NONAME ? std::string(" (") + ::gai_strerror(found) + ")"
                                              : std::string()));
      return -1;
    }
    std::memcpy(&address, list->ai_addr, std::min<std::size_t>(list->ai_addrlen, sizeof address));
    addressLength = list->ai_addrlen;
    ::freeaddrinfo(list);
    if (address.ss_family == AF_INET)
      reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(static_cast<std::uint16_t>(port));
    else if (address.ss_family == AF_INET6)
      reinterpret_cast<sockaddr_in6*>(&address)->sin6_port =
          htons(static_cast<std::uint16_t>(port));
    else {
      lastError_ = kWsaEinval;
      Fail(peer_ + ": адрес не найден");
      return -1;
    }
  }
  auto connectFailed = [this](int error) {
    lastError_ = error;
    Fail(peer_ + ": " + (error == ECONNREFUSED  ? std::string("соединение отклонено")
                         : error == ETIMEDOUT   ? std::string("время ожидания истекло")
                         : error == EHOSTUNREACH || error == ENETUNREACH
                             ? std::string("нет маршрута к серверу")
                             : std::string(std::strerror(error))));
  };
  int s = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) {
    connectFailed(errno);
    return -1;
  }
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), addressLength) != 0) {
    if (errno != EINPROGRESS) {
      connectFailed(errno);
      CloseSocket(s);
      return -1;
    }
    // Bounded only by the client's total network time.
    if (!WaitFor(s, POLLOUT, limits_.totalMs)) {
      CloseSocket(s);
      return -1;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      connectFailed(err ? err : errno);
      CloseSocket(s);
      return -1;
    }
  }
  return s;
}

bool CddbClient::SendAll(int socket, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(socket, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (!WaitFor(socket, POLLOUT, limits_.waitMs)) return false;
        continue;
      }
      lastError_ = errno;
      return Fail(peer_ + ": запрос не отправлен (" + std::strerror(errno) + ")");
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool CddbClient::Receive(int socket, std::string_view terminator, std::string& out,
                         std::size_t chunk, bool statusCheck) {
  if (chunk < 2) chunk = 2;
  std::vector<char> buffer(chunk);
  std::size_t capacity = chunk;
  std::size_t used = 0;
  std::size_t searched = 0;  // terminator search resumes here (plain bodies)
  int chunked = -1;          // unknown until the header is complete
  auto keep = [&] { out.assign(buffer.data(), used); };
  // In the status-check mode: true when text is a whole response whose status
  // is not 210..219 (those end with the terminator).
  auto completeByStatus = [&](std::string_view text, bool closed) {
    std::size_t sep = text.find("\r\n\r\n");
    if (sep == std::string_view::npos) return false;  // header not complete yet
    std::string_view body = text.substr(sep + 4);
    // Wait for the whole status line unless the peer has closed.
    if (!closed && body.find('\n') == std::string_view::npos) return false;
    if (body.size() < 3) return false;
    int code = ResponseStatusCode(text);
    return code < 210 || code > 219;
  };
  // A chunked response as the parsers see it: the header and the decoded
  // body, cut at the terminator. True when it is complete.
  auto decoded = [&](bool closed) {
    std::string_view text(buffer.data(), used);
    std::size_t sep = text.find("\r\n\r\n");
    bool last = false;
    std::string whole = std::string(text.substr(0, sep + 4)) + DecodeChunked(text.substr(sep + 4), &last);
    std::size_t at = whole.find(terminator, sep + 4);
    bool complete = at != std::string::npos || last ||
                    ((statusCheck || closed) && completeByStatus(whole, closed));
    if (at != std::string::npos) whole.resize(at);
    out = std::move(whole);
    return complete;
  };
  for (;;) {
    if (!WaitFor(socket, POLLIN, limits_.waitMs)) {
      keep();
      return false;
    }
    std::size_t want = capacity - used - 1;
    ssize_t n = ::recv(socket, buffer.data() + used, want, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) {
      if (n < 0) lastError_ = errno;
      bool complete;
      if (chunked == 1) {
        complete = decoded(true);
      } else {
        keep();
        // A status answer that the server ended by closing is still complete
        // (a read answer then fails on its status, which names the cause).
        complete = completeByStatus(out, true);
      }
      if (!complete)
        Fail(peer_ + (used == 0 ? ": соединение закрыто без ответа"
                                : ": соединение закрыто до конца ответа"));
      return complete;
    }
    used += static_cast<std::size_t>(n);
    buffer[used] = 0;
    if (used > limits_.maxResponseBytes) {
      keep();
      lastError_ = EMSGSIZE;
      return Fail(peer_ + ": ответ больше " + std::to_string(limits_.maxResponseBytes / 1024) +
                  " КБ");
    }
    if (static_cast<std::size_t>(n) == want) {
      capacity += chunk;
      buffer.resize(capacity);
    }
    std::string_view text(buffer.data(), used);
    if (chunked < 0 && text.find("\r\n\r\n") != std::string_view::npos)
      chunked = IsChunkedResponse(text) ? 1 : 0;
    if (chunked == 1) {
      if (decoded(false)) return true;
      continue;
    }
    if (statusCheck && completeByStatus(text, false)) {
      keep();
      return true;
    }
    std::size_t from = searched;
    std::size_t at = text.find(terminator, from);
    if (at != std::string_view::npos) {
      used = at;  // the terminator ends the response
      keep();
      return true;
    }
    searched = used >= terminator.size() ? used - terminator.size() + 1 : 0;
  }
}

bool CddbClient::Query(const CddbServer& server, std::uint32_t discId, const CddbTocTable& toc,
                       CddbQueryTable& table, bool& sendFailed) {
  RequestTimer timer(*this);
  sendFailed = false;
  failure_.clear();
  peer_ = Peer(server);
  int s = Connect(server);
  if (s < 0) return false;
  const std::string request = QueryRequest(server, discId, toc);
  bool sent = false;
  for (int attempt = 0; attempt < 5 && !sent; ++attempt) sent = SendAll(s, request);
  if (!sent) {
    CloseSocket(s);
    sendFailed = true;
    return false;
  }
  std::string response;
  bool ok = Receive(s, kCddbTerminator, response, 4096, true);
  CloseSocket(s);
  if (!ok || !CheckHttpStatus(server, response)) return false;
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
    int s = Connect(server);
    if (s < 0) return false;
    if (!SendAll(s, ReadRequest(server, discId, category))) {
      CloseSocket(s);
      return false;
    }
    bool ok = Receive(s, kCddbTerminator, response, 4096, false);
    CloseSocket(s);
    if (!ok) return false;
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
