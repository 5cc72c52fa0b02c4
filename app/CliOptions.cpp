#include "app/CliOptions.h"

#include <cerrno>
#include <cstdlib>
#include <set>

namespace sonarvex {
namespace {

bool ParseNumber(const std::string& text, int min, int max, int* out) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  long v = std::strtol(text.c_str(), nullptr, 10);
  if (v < min || v > max) return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

const char* CliUsage() {
  return "usage: sonarvex-cli [--home DIR] [--image FILE.cue]... COMMAND\n"
         "  drives\n"
         "  toc [--drive N]\n"
         "  rip [--drive N] [--format wav|mp3|ogg] [--tracks LIST] [--on-the-fly]\n"
         "  cddb [--drive N] [--match K]\n";
}

std::optional<CliOptions> ParseCli(const std::vector<std::string>& args, std::string* error) {
  CliOptions o;
  std::size_t k = 0;
  auto value = [&](const std::string& name) -> std::optional<std::string> {
    if (k + 1 >= args.size()) {
      *error = name + " needs a value";
      return std::nullopt;
    }
    return args[++k];
  };
  // Options before the command.
  for (; k < args.size(); ++k) {
    const std::string& a = args[k];
    if (a == "--home") {
      auto v = value(a);
      if (!v) return std::nullopt;
      o.Home = *v;
    } else if (a == "--image") {
      auto v = value(a);
      if (!v) return std::nullopt;
      o.Images.push_back(*v);
    } else if (!a.empty() && a[0] == '-') {
      *error = "unknown option " + a;
      return std::nullopt;
    } else {
      o.Command = a;
      ++k;
      break;
    }
  }
  static const std::set<std::string> kCommands = {"drives", "toc", "rip", "cddb"};
  if (o.Command.empty()) {
    *error = "no command given";
    return std::nullopt;
  }
  if (!kCommands.count(o.Command)) {
    *error = "unknown command " + o.Command;
    return std::nullopt;
  }
  for (; k < args.size(); ++k) {
    const std::string& a = args[k];
    bool driveOk = o.Command != "drives";
    if (a == "--drive" && driveOk) {
      auto v = value(a);
      int n = 0;
      if (!v || !ParseNumber(*v, 0, 255, &n)) {
        if (v) *error = "bad drive number " + *v;
        return std::nullopt;
      }
      o.Drive = n;
    } else if (a == "--format" && o.Command == "rip") {
      auto v = value(a);
      if (!v) return std::nullopt;
      if (*v != "wav" && *v != "mp3" && *v != "ogg") {
        *error = "unknown format " + *v;
        return std::nullopt;
      }
      o.Format = *v;
    } else if (a == "--tracks" && o.Command == "rip") {
      auto v = value(a);
      if (!v) return std::nullopt;
      o.Tracks = *v;
    } else if (a == "--on-the-fly" && o.Command == "rip") {
      o.OnTheFly = true;
    } else if (a == "--match" && o.Command == "cddb") {
      auto v = value(a);
      if (!v || !ParseNumber(*v, 1, 1000, &o.Match)) {
        if (v) *error = "bad match number " + *v;
        return std::nullopt;
      }
    } else {
      *error = "unexpected argument " + a + " for " + o.Command;
      return std::nullopt;
    }
  }
  return o;
}

std::optional<std::vector<int>> ParseTrackList(const std::string& list, int maxTrack,
                                               std::string* error) {
  std::vector<int> out;
  std::set<int> seen;
  std::size_t pos = 0;
  if (list.empty()) {
    *error = "empty track list";
    return std::nullopt;
  }
  while (pos <= list.size()) {
    std::size_t comma = list.find(',', pos);
    std::string item = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    int a = 0, b = 0;
    std::size_t dash = item.find('-');
    bool ok = dash == std::string::npos
                  ? ParseNumber(item, 1, maxTrack, &a) && (b = a, true)
                  : ParseNumber(item.substr(0, dash), 1, maxTrack, &a) &&
                        ParseNumber(item.substr(dash + 1), 1, maxTrack, &b) && a <= b;
    if (!ok) {
      *error = "bad track list item '" + item + "' (tracks are 1.." + std::to_string(maxTrack) + ")";
      return std::nullopt;
    }
    for (int t = a; t <= b; ++t)
      if (seen.insert(t).second) out.push_back(t);
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return out;
}

}  // namespace sonarvex
