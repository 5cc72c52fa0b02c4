#include "cli/CliProgress.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace sonarvex {
namespace {

double SteadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// "копирование 45%" gives phase "копирование" and 45; false for a final text.
bool RunningStatus(const std::string& text, std::string* phase, int* percent) {
  const auto space = text.rfind(' ');
  if (space == std::string::npos || text.size() < space + 3 || text.back() != '%') return false;
  const std::string head = text.substr(0, space);
  if (head != "копирование" && head != "сжатие") return false;
  const std::string digits = text.substr(space + 1, text.size() - space - 2);
  if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *phase = head;
  *percent = std::atoi(digits.c_str());
  return true;
}

std::string Fixed1(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f", v);
  return b;
}

}  // namespace

std::string MinutesSeconds(double seconds) {
  long s = seconds > 0 ? std::lround(seconds) : 0;
  char b[32];
  std::snprintf(b, sizeof b, "%ld:%02ld", s / 60, s % 60);
  return b;
}

CliProgress::CliProgress(std::ostream& err, bool terminal, int verbosity, Clock clock)
    : err_(err), terminal_(terminal), verbosity_(verbosity), clock_(std::move(clock)) {
  if (!clock_) clock_ = SteadySeconds;
}

void CliProgress::Start(int row, double trackSeconds) {
  Track& t = tracks_[row];
  t = Track{};
  t.seconds = trackSeconds;
  t.start = t.phaseStart = clock_();
}

CliProgress::Track& CliProgress::Row(int row) {
  auto it = tracks_.find(row);
  if (it != tracks_.end()) return it->second;
  Start(row, 0);
  return tracks_[row];
}

void CliProgress::CloseLine() {
  if (!lineOpen_) return;
  err_ << "\n" << std::flush;
  lineOpen_ = false;
}

void CliProgress::Redraw() {
  int running = 0;
  for (const auto& [row, t] : tracks_) running += t.running ? 1 : 0;
  // Speed and time left while one track runs; several share the line.
  std::string line;
  for (const auto& [row, t] : tracks_) {
    if (!t.running) continue;
    if (!line.empty()) line += "  ";
    line += running == 1 ? t.line : t.status;
  }
  if (line.empty()) return;
  // Back to the line's start, then clear what a longer line left.
  err_ << "\r" << line << "\033[K" << std::flush;
  lineOpen_ = true;
}

void CliProgress::Status(int row, const std::string& text) {
  if (verbosity_ < 0) return;
  Track& t = Row(row);
  const double now = clock_();
  std::string phase;
  int percent = 0;
  const std::string prefix = std::to_string(firstNumber_ + row) + ": ";
  if (RunningStatus(text, &phase, &percent)) {
    if (!terminal_) return;
    if (phase != t.phase) {
      // Reading and compressing each run at their own speed; the first
      // phase starts with the track.
      if (!t.phase.empty()) t.phaseStart = now;
      t.phase = phase;
    }
    t.running = true;
    t.status = t.line = prefix + text;
    const double elapsed = now - t.phaseStart;
    if (percent > 0 && elapsed > 0.05) {
      if (t.seconds > 0) t.line += "  " + Fixed1(t.seconds * percent / 100.0 / elapsed) + "×";
      t.line += "  осталось " + MinutesSeconds(elapsed * (100 - percent) / percent);
    }
    Redraw();
    return;
  }
  // The track has ended. A failed one is told by the failure's own line,
  // which stays the last one.
  t.running = false;
  if (text == "Ошибка") {
    CloseLine();
    return;
  }
  std::string line = prefix + text;
  const double took = now - t.start;
  if (text == "Скопирован" && t.seconds > 0) {
    line += ", " + MinutesSeconds(t.seconds) + " за " + Fixed1(took) + " с";
    if (took > 0.05) line += " (" + Fixed1(t.seconds / took) + "×)";
  }
  if (terminal_) err_ << "\r" << line << "\033[K\n";
  else err_ << line << "\n";
  err_ << std::flush;
  lineOpen_ = false;
  // The tracks still running go on in a new line.
  if (terminal_) Redraw();
}

}  // namespace sonarvex

namespace sonarvex {

std::string FileProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    switch (errno) {
      case ENOENT: return "файл не найден.";
      case EACCES: return "нет прав на доступ к файлу.";
      case ENOTDIR: return "часть пути не папка.";
      default: return std::string("ошибка ") + std::to_string(errno) + " (" + std::strerror(errno) + ").";
    }
  }
  if (S_ISDIR(st.st_mode)) return "это папка, а не файл.";
  if (!S_ISREG(st.st_mode)) return "это не обычный файл.";
  if (::access(path.c_str(), R_OK) != 0) return "нет прав на чтение файла.";
  return {};
}

}  // namespace sonarvex
