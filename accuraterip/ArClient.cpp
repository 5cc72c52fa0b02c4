#include "accuraterip/ArClient.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "metadata/CddbClient.h"
#include "platform/IniStore.h"

namespace sonarvex {

namespace {

using Clock = std::chrono::steady_clock;

class Socket {
 public:
  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
  int fd = -1;
};

}  // namespace

bool ParseArServer(const std::string& text, ArServer& out) {
  std::string host = text;
  int port = 80;
  std::string portText;
  if (!host.empty() && host.front() == '[') {
    const auto close = host.find(']');
    if (close == std::string::npos) return false;
    const std::string rest = host.substr(close + 1);
    host = host.substr(1, close - 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      portText = rest.substr(1);
    }
  } else if (const auto colon = host.rfind(':'); colon != std::string::npos) {
    if (host.find(':') != colon) return false;  // a bare IPv6 address needs brackets
    portText = host.substr(colon + 1);
    host = host.substr(0, colon);
  }
  if (host.empty() || host.find_first_of(" \t\r\n/") != std::string::npos) return false;
  if (!portText.empty() || text.back() == ':') {
    if (portText.empty() || portText.size() > 5 ||
        portText.find_first_not_of("0123456789") != std::string::npos)
      return false;
    port = std::stoi(portText);
    if (port < 1 || port > 65535) return false;
  }
  out.host = host;
  out.port = port;
  return true;
}

bool ArServerFrom(const IniStore& ini, ArServer& out) {
  const auto text = ini.Get(kArIniSection, kArIniServerKey);
  return text && !text->empty() && ParseArServer(*text, out);
}

ArFetch ArClient::Fetch(const ArDiscIds& ids) {
  ArFetch result;
  const std::string where = server_.host + ":" + std::to_string(server_.port);
  auto fail = [&](const std::string& why) {
    result.outcome = ArFetch::Outcome::Failed;
    result.message = "Сервер AccurateRip " + where + ": " + why + ".";
    return result;
  };
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limits_.totalMs);
  auto remainingMs = [&]() {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, std::min<long long>(left, limits_.waitMs)));
  };
  // Waits for the socket in short slices so that the pump keeps running.
  auto wait = [&](int fd, short events) -> int {
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(remainingMs());
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0) return 0;
      pollfd p{fd, events, 0};
      const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 50)));
      if (r < 0 && errno == EINTR) continue;
      if (r != 0) return r;
      if (pump_) pump_();
    }
  };

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(server_.port);
  if (int rc = ::getaddrinfo(server_.host.c_str(), port.c_str(), &hints, &found); rc != 0)
    return fail(std::string("адрес не найден (") + ::gai_strerror(rc) + ")");
  Socket sock;
  int lastError = ECONNREFUSED;
  for (addrinfo* a = found; a != nullptr && sock.fd < 0; a = a->ai_next) {
    int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        lastError = errno;
        ::close(fd);
        continue;
      }
      const int r = wait(fd, POLLOUT);
      int soError = 0;
      socklen_t len = sizeof soError;
      if (r <= 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0 || soError != 0) {
        lastError = r == 0 ? ETIMEDOUT : (soError != 0 ? soError : errno);
        ::close(fd);
        continue;
      }
    }
    sock.fd = fd;
  }
  ::freeaddrinfo(found);
  if (sock.fd < 0) return fail(std::string("нет соединения (") + std::strerror(lastError) + ")");

  const std::string hostHeader =
      server_.host.find(':') != std::string::npos ? "[" + server_.host + "]" : server_.host;
  const std::string request = "GET " + ArEntryPath(ids) + " HTTP/1.0\r\nHost: " + hostHeader +
                              (server_.port != 80 ? ":" + port : std::string()) +
                              "\r\nUser-Agent: Sonarvex\r\nConnection: close\r\n\r\n";
  std::size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t w = ::send(sock.fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (w > 0) {
      sent += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (wait(sock.fd, POLLOUT) <= 0) return fail("время ожидания истекло");
      continue;
    }
    return fail(std::string("запрос не отправлен (") + std::strerror(errno) + ")");
  }

  std::string response;
  char buffer[16384];
  for (;;) {
    const int r = wait(sock.fd, POLLIN);
    if (r == 0) return fail("время ожидания истекло");
    if (r < 0) return fail(std::string("ошибка приёма (") + std::strerror(errno) + ")");
    const ssize_t n = ::recv(sock.fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n < 0) return fail(std::string("ошибка приёма (") + std::strerror(errno) + ")");
    if (n == 0) break;
    if (response.size() + static_cast<std::size_t>(n) > limits_.maxResponseBytes)
      return fail("ответ больше " + std::to_string(limits_.maxResponseBytes) + " байт");
    response.append(buffer, static_cast<std::size_t>(n));
  }

  const int status = HttpStatus(response);
  if (status == 0) return fail("ответ не по протоколу HTTP");
  if (status == 404) {
    result.outcome = ArFetch::Outcome::NotFound;
    return result;
  }
  if (status != 200) return fail("ответ " + std::to_string(status));
  const auto headerEnd = response.find("\r\n\r\n");
  if (headerEnd == std::string::npos) return fail("ответ оборван");
  std::string body = response.substr(headerEnd + 4);
  if (IsChunkedResponse(response)) {
    bool complete = false;
    body = DecodeChunked(body, &complete);
    if (!complete) return fail("ответ оборван");
  } else if (const long long length = ContentLength(response); length == -2) {
    return fail("ответ не по протоколу HTTP");
  } else if (length >= 0) {
    // A connection closed before the announced length arrived is an answer
    // cut short, not a shorter entry.
    if (body.size() < static_cast<std::size_t>(length))
      return fail("ответ оборван (" + std::to_string(body.size()) + " байт из " +
                  std::to_string(length) + ")");
    body.resize(static_cast<std::size_t>(length));
  }
  std::string why;
  if (!ParseArEntry(body, result.submissions, &why)) return fail(why);
  result.outcome = ArFetch::Outcome::Found;
  return result;
}

}  // namespace sonarvex
