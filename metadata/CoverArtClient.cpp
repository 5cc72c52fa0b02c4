#include "metadata/CoverArtClient.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "metadata/MusicBrainzClient.h"

namespace sonarvex {

namespace {

bool IsIdCharacter(char c) {
  return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == '-';
}

// The answer's header holds redirects and the final header besides the image.
constexpr std::size_t kHeaderAllowance = 64 * 1024;

// "8 МБ", "100 КБ" (rounded up).
std::string BoundText(std::size_t bytes) {
  if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " МБ";
  return std::to_string((bytes + 1023) / 1024) + " КБ";
}

}  // namespace

int CoverArtSize(int setting) {
  for (int size : kCoverArtSizes)
    if (setting == size) return size;
  return kDefaultCoverArtSize;
}

std::string CoverArtServerBase(const std::string& setting) {
  // The same rules as the MusicBrainz server's address.
  return MusicBrainzServerBase(setting.empty() ? std::string(kDefaultCoverArtServer) : setting);
}

CoverArtClient::CoverArtClient(const std::string& server, CoverArtLimits limits)
    : base_(CoverArtServerBase(server)),
      setting_(server.empty() ? std::string(kDefaultCoverArtServer) : server),
      limits_(limits) {}

std::string CoverArtClient::Peer() const {
  std::string name = base_.empty() ? setting_ : base_;
  if (const std::size_t scheme = name.find("://"); scheme != std::string::npos)
    name = name.substr(scheme + 3);
  return "сервер Cover Art Archive " + name.substr(0, 200);
}

CoverArtClient::Answer CoverArtClient::FetchFront(const std::string& releaseId, int size,
                                                  CoverImage& image) {
  failure_.clear();
  if (base_.empty()) {
    failure_ = "неверный адрес сервера Cover Art Archive: " + setting_.substr(0, 200);
    return Answer::Failed;
  }
  if (releaseId.empty() || releaseId.size() > 64 ||
      !std::all_of(releaseId.begin(), releaseId.end(), IsIdCharacter)) {
    failure_ = "неверный идентификатор релиза MusicBrainz";
    return Answer::Failed;
  }
  size = CoverArtSize(size);
  HttpRequest request;
  request.url = base_ + "/release/" + releaseId + "/front" +
                (size > 0 ? "-" + std::to_string(size) : std::string());
  request.http10 = false;
  request.headers = {"User-Agent: " + MusicBrainzUserAgent(), "Accept: image/jpeg, image/png"};
  request.proxy = proxy_;
  request.limits.waitMs = limits_.waitMs;
  request.limits.totalMs = limits_.totalMs;
  request.limits.maxResponseBytes = limits_.maxImageBytes + kHeaderAllowance;
  request.limits.pumpIntervalMs = limits_.pumpIntervalMs;
  request.pump = pump_;
  HttpResult r = HttpGet(request);
  const std::string peer = Peer();
  const std::string tooLarge =
      peer + ": изображение больше " + BoundText(limits_.maxImageBytes);
  switch (r.failure) {
    case HttpFailure::None:
      break;
    case HttpFailure::BadAddress:
    case HttpFailure::NotResolved:
      failure_ = peer + ": адрес не найден";
      return Answer::Failed;
    case HttpFailure::ConnectFailed:
      failure_ = peer + ": " + (r.osError == ECONNREFUSED ? std::string("соединение отклонено")
                                : r.osError == ETIMEDOUT  ? std::string("время ожидания истекло")
                                                          : std::string(std::strerror(r.osError)));
      return Answer::Failed;
    case HttpFailure::WaitTimedOut:
    case HttpFailure::TotalTimedOut:
      failure_ = peer + ": время ожидания ответа истекло";
      return Answer::Failed;
    case HttpFailure::TooLarge:
      failure_ = tooLarge;
      return Answer::Failed;
    case HttpFailure::ClosedEarly:
    case HttpFailure::ReceiveFailed:
      failure_ = peer + ": соединение закрыто до конца ответа";
      return Answer::Failed;
    case HttpFailure::NothingReceived:
      failure_ = peer + ": соединение закрыто без ответа";
      return Answer::Failed;
    case HttpFailure::NotHttp:
      failure_ = peer + ": ответ не по протоколу HTTP";
      return Answer::Failed;
    default: {
      const std::string text = HttpFailureText(r);
      failure_ = peer + ": " + (text.empty() ? r.detail : text);
      return Answer::Failed;
    }
  }
  if (r.status == 404) return Answer::None;
  if (r.status != 200) {
    failure_ = peer + " ответил: HTTP " + std::to_string(r.status);
    if (r.status == 503) failure_ += " (слишком много запросов, повторите позже)";
    return Answer::Failed;
  }
  if (r.body.size() > limits_.maxImageBytes) {
    failure_ = tooLarge;
    return Answer::Failed;
  }
  if (!ReadCoverImage(std::vector<std::uint8_t>(r.body.begin(), r.body.end()), image)) {
    failure_ = peer + ": ответ не является изображением JPEG или PNG";
    return Answer::Failed;
  }
  return Answer::Found;
}

}  // namespace sonarvex
