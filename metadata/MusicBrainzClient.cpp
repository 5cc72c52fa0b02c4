#include "metadata/MusicBrainzClient.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/Version.h"

namespace sonarvex {

namespace {

using Clock = std::chrono::steady_clock;

// The home page the package names (the Debian package's Homepage).
constexpr const char* kHomePage = "https://sonarvex.io/";

// The moment the process's last request to the service left; a request
// waits (pumping) until requestIntervalMs have passed since then.
std::mutex gTurnMutex;
Clock::time_point gLastRequest{};
bool gAnyRequest = false;

void WaitForTurn(int intervalMs, const std::function<void()>& pump) {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(gTurnMutex);
      const Clock::time_point now = Clock::now();
      if (!gAnyRequest || now - gLastRequest >= std::chrono::milliseconds(intervalMs)) {
        gLastRequest = now;
        gAnyRequest = true;
        return;
      }
    }
    if (pump) pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool IsIdCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

}  // namespace

std::string MusicBrainzUserAgent() {
  return std::string("Sonarvex/") + SONARVEX_VERSION + " ( " + kHomePage + " )";
}

std::string MusicBrainzServerBase(const std::string& setting) {
  std::string base = setting.empty() ? std::string(kDefaultMusicBrainzServer) : setting;
  while (!base.empty() && (base.back() == '/' || base.back() == ' ')) base.pop_back();
  while (!base.empty() && base.front() == ' ') base.erase(0, 1);
  const std::size_t scheme = base.find("://");
  if (scheme == std::string::npos) return {};
  const std::string name = base.substr(0, scheme);
  if (name != "http" && name != "https") return {};
  const std::string rest = base.substr(scheme + 3);
  if (rest.empty() || rest.find_first_of("?# \t\r\n") != std::string::npos) return {};
  return base;
}

MusicBrainzClient::MusicBrainzClient(const std::string& server, MusicBrainzLimits limits)
    : base_(MusicBrainzServerBase(server)),
      setting_(server.empty() ? std::string(kDefaultMusicBrainzServer) : server),
      limits_(limits) {}

std::string MusicBrainzClient::Peer() const {
  std::string name = base_.empty() ? setting_ : base_;
  if (const std::size_t scheme = name.find("://"); scheme != std::string::npos)
    name = name.substr(scheme + 3);
  return "сервер MusicBrainz " + name.substr(0, 200);
}

int MusicBrainzClient::Get(const std::string& target, std::string& body) {
  PrepareHttp();
  WaitForTurn(limits_.requestIntervalMs, pump_);
  HttpRequest request;
  request.url = base_ + target;
  request.http10 = false;
  request.headers = {"User-Agent: " + MusicBrainzUserAgent(), "Accept: application/json"};
  request.proxy = proxy_;
  request.limits.waitMs = limits_.waitMs;
  request.limits.totalMs = limits_.totalMs;
  request.limits.maxResponseBytes = limits_.maxResponseBytes;
  request.limits.pumpIntervalMs = limits_.pumpIntervalMs;
  request.pump = pump_;
  HttpResult r = HttpGet(request);
  body = std::move(r.body);
  const std::string peer = Peer();
  switch (r.failure) {
    case HttpFailure::None:
      return r.status;
    case HttpFailure::BadAddress:
    case HttpFailure::NotResolved:
      failure_ = peer + ": адрес не найден";
      break;
    case HttpFailure::ConnectFailed:
      failure_ = peer + ": " + (r.osError == ECONNREFUSED ? std::string("соединение отклонено")
                                : r.osError == ETIMEDOUT  ? std::string("время ожидания истекло")
                                                          : std::string(std::strerror(r.osError)));
      break;
    case HttpFailure::WaitTimedOut:
    case HttpFailure::TotalTimedOut:
      failure_ = peer + ": время ожидания ответа истекло";
      break;
    case HttpFailure::TooLarge:
      failure_ = peer + ": ответ больше " + std::to_string(limits_.maxResponseBytes / 1024) + " КБ";
      break;
    case HttpFailure::ClosedEarly:
    case HttpFailure::ReceiveFailed:
      failure_ = peer + ": соединение закрыто до конца ответа";
      break;
    case HttpFailure::NothingReceived:
      failure_ = peer + ": соединение закрыто без ответа";
      break;
    case HttpFailure::NotHttp:
      failure_ = peer + ": ответ не по протоколу HTTP";
      break;
    default: {
      const std::string text = HttpFailureText(r);
      failure_ = peer + ": " + (text.empty() ? r.detail : text);
    }
  }
  return -1;
}

MusicBrainzClient::Answer MusicBrainzClient::Parse(const std::string& body,
                                                   std::vector<MusicBrainzRelease>& releases) {
  std::string reason;
  if (!ParseMusicBrainzAnswer(body, releases, reason)) {
    failure_ = Peer() + ": " + reason;
    return Answer::Failed;
  }
  return releases.empty() ? Answer::Unknown : Answer::Found;
}

MusicBrainzClient::Answer MusicBrainzClient::Lookup(const std::string& discId,
                                                    const std::string& tocParameter,
                                                    std::vector<MusicBrainzRelease>& releases) {
  releases.clear();
  failure_.clear();
  byToc_ = false;
  if (base_.empty()) {
    failure_ = "неверный адрес сервера MusicBrainz: " + setting_.substr(0, 200);
    return Answer::Failed;
  }
  if (discId.empty() || !std::all_of(discId.begin(), discId.end(), IsIdCharacter)) {
    failure_ = "неверный идентификатор диска MusicBrainz";
    return Answer::Failed;
  }
  const std::string query = std::string("inc=") + kMusicBrainzIncludes + "&fmt=json";
  std::string body;
  int status = Get("/ws/2/discid/" + discId + "?" + query, body);
  if (status < 0) return Answer::Failed;
  if (status == 404 && !tocParameter.empty()) {
    byToc_ = true;
    status = Get("/ws/2/discid/" + discId + "?toc=" + tocParameter + "&cdstubs=no&" + query, body);
    if (status < 0) return Answer::Failed;
  }
  if (status == 404) return Answer::Unknown;
  if (status != 200) {
    failure_ = Peer() + " ответил: HTTP " + std::to_string(status);
    if (status == 503) failure_ += " (слишком много запросов, повторите позже)";
    return Answer::Failed;
  }
  return Parse(body, releases);
}

}  // namespace sonarvex
