#include "accuraterip/ArClient.h"

#include <cerrno>
#include <cstring>

#include "metadata/CddbClient.h"
#include "platform/HttpClient.h"
#include "platform/IniStore.h"

namespace sonarvex {

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
  HttpRequest request;
  request.url = HttpUrl(server_.host, server_.port, ArEntryPath(ids));
  if (request.url.empty()) return fail("адрес не найден");
  request.limits.waitMs = limits_.waitMs;
  request.limits.totalMs = limits_.totalMs;
  request.limits.connectMs = limits_.waitMs;
  request.limits.maxResponseBytes = limits_.maxResponseBytes;
  request.pump = pump_;
  const HttpResult r = HttpGet(request);
  switch (r.failure) {
    case HttpFailure::None:
    case HttpFailure::ClosedEarly:
      break;
    case HttpFailure::BadAddress:
    case HttpFailure::NotResolved:
      return fail("адрес не найден (" + r.detail + ")");
    case HttpFailure::ConnectFailed:
      return fail(std::string("нет соединения (") + std::strerror(r.osError) + ")");
    case HttpFailure::WaitTimedOut:
    case HttpFailure::TotalTimedOut:
      if (!r.connected) return fail(std::string("нет соединения (") + std::strerror(ETIMEDOUT) + ")");
      return fail("время ожидания истекло");
    case HttpFailure::TooLarge:
      return fail("ответ больше " + std::to_string(limits_.maxResponseBytes) + " байт");
    case HttpFailure::SendFailed:
      return fail(std::string("запрос не отправлен (") + std::strerror(r.osError) + ")");
    case HttpFailure::ReceiveFailed:
      return fail(std::string("ошибка приёма (") +
                  (r.osError ? std::strerror(r.osError) : r.detail.c_str()) + ")");
    case HttpFailure::NothingReceived:
    case HttpFailure::NotHttp:
      return fail("ответ не по протоколу HTTP");
    default:
      return fail(HttpFailureText(r));
  }

  const std::string response = r.Response();
  const int status = HttpStatus(response);
  if (status == 0) return fail("ответ не по протоколу HTTP");
  if (status == 404) {
    result.outcome = ArFetch::Outcome::NotFound;
    return result;
  }
  if (status != 200) return fail("ответ " + std::to_string(status));
  if (r.header.find("\r\n\r\n") == std::string::npos) return fail("ответ оборван");
  const long long length = ContentLength(r.header);
  if (length == -2 && !IsChunkedResponse(r.header)) return fail("ответ не по протоколу HTTP");
  // A connection closed before the announced length (or the last chunk)
  // arrived is an answer cut short, not a shorter entry.
  if (r.failure == HttpFailure::ClosedEarly) {
    if (length >= 0 && !IsChunkedResponse(r.header))
      return fail("ответ оборван (" + std::to_string(r.body.size()) + " байт из " +
                  std::to_string(length) + ")");
    return fail("ответ оборван");
  }
  std::string why;
  if (!ParseArEntry(r.body, result.submissions, &why)) return fail(why);
  result.outcome = ArFetch::Outcome::Found;
  return result;
}

}  // namespace sonarvex
