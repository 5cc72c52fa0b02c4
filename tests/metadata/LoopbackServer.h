// A real HTTP server on 127.0.0.1 (a port the system picks) for the CDDB
// tests. Every connection's request is read up to its blank line, recorded,
// and handed to the test's handler, which answers through the connection in
// any way it likes: whole, split, trickled, never, or by closing.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace sonarvex::test {

class LoopbackServer {
 public:
  class Connection {
   public:
    Connection(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {}
    // Sends everything; false when the peer has gone.
    bool Send(std::string_view data);
    // Sends in pieces of `piece` bytes with a pause between them.
    bool Trickle(std::string_view data, std::size_t piece, int pauseMs);
    // Waits (without answering) until the server stops or ms have passed.
    void Wait(int ms);

   private:
    int fd_;
    const std::atomic<bool>& stop_;
  };
  using Handler = std::function<void(const std::string& request, Connection& c)>;

  explicit LoopbackServer(Handler handler);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int Port() const { return port_; }
  std::vector<std::string> Requests();

 private:
  void Run();
  Handler handler_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A loopback port nothing listens on: a server that refuses connections.
int ClosedPort();

// "HTTP/1.0 200 OK" with a plain header and the body.
std::string HttpResponse(std::string_view body);

// A CDDB server's handler: every query finds one entry of `genre` titled
// `dtitle` ("Artist / Album"), and reading it gives that entry with the
// further xmcd lines `lines` ("TTITLE0=...\r\n..."). The identifier a
// query asked for goes to *queried when given.
LoopbackServer::Handler CddbAnswering(const std::string& genre, const std::string& dtitle,
                                      const std::string& lines, std::string* queried = nullptr);

}  // namespace sonarvex::test
