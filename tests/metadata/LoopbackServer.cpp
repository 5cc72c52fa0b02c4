#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace sonarvex::test {

bool LoopbackServer::Connection::Send(std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool LoopbackServer::Connection::Trickle(std::string_view data, std::size_t piece, int pauseMs) {
  while (!data.empty() && !stop_) {
    std::size_t n = std::min(piece, data.size());
    if (!Send(data.substr(0, n))) return false;
    data.remove_prefix(n);
    if (!data.empty()) Wait(pauseMs);
  }
  return true;
}

void LoopbackServer::Connection::Wait(int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!stop_ && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error("socket");
  int one = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listener_, 16) != 0)
    throw std::runtime_error("bind/listen");
  socklen_t len = sizeof a;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
}

std::vector<std::string> LoopbackServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void LoopbackServer::Run() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // The request: up to its blank line (at most 2 s, 64 KiB).
    std::string request;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 &&
           std::chrono::steady_clock::now() < end && !stop_) {
      pollfd q{fd, POLLIN, 0};
      if (::poll(&q, 1, 20) <= 0) continue;
      char buffer[4096];
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    Connection c(fd, stop_);
    if (handler_) handler_(request, c);
    ::close(fd);
  }
}

int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

std::string HttpResponse(std::string_view body) {
  return "HTTP/1.0 200 OK\r\nServer: loopback\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n" +
         std::string(body);
}

LoopbackServer::Handler CddbAnswering(const std::string& genre, const std::string& dtitle,
                                      const std::string& lines, std::string* queried) {
  return [=](const std::string& request, LoopbackServer::Connection& c) {
    if (auto at = request.find("cddb+query+"); at != std::string::npos) {
      const std::string id = request.substr(at + 11, 8);
      if (queried) *queried = id;
      c.Send(HttpResponse("200 " + genre + " " + id + " " + dtitle + "\r\n"));
    } else if (auto rd = request.find("cddb+read+" + genre + "+"); rd != std::string::npos) {
      const std::string id = request.substr(rd + 11 + genre.size(), 8);
      c.Send(HttpResponse("210 " + genre + " " + id + " CD database entry follows\r\n# xmcd\r\nDISCID=" +
                          id + "\r\nDTITLE=" + dtitle + "\r\n" + lines + ".\r\n"));
    }
  };
}

}  // namespace sonarvex::test
