// The recorded MusicBrainz answers of tests/data/musicbrainz/ and the HTTP
// answers a loopback server gives with them.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace sonarvex::test {

inline std::string MusicBrainzData(const std::string& name) {
  std::ifstream in(std::string(SONARVEX_SOURCE_DIR) + "/tests/data/musicbrainz/" + name,
                   std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A disc identifier answer listing these releases (JSON objects, joined).
inline std::string DiscIdAnswer(std::string_view releases) {
  return "{\"releases\":[" + std::string(releases) + "]}";
}

inline std::string JsonResponse(int status, std::string_view body) {
  const char* reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Error";
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + std::string(body);
}

inline constexpr const char* kNotFoundBody = "{\"error\":\"Not Found\",\"help\":\"\"}";

}  // namespace sonarvex::test
