// The progress of a command-line rip on standard error. On a terminal: one
// line that updates itself, with the percentage, the speed (how many times
// faster than playing) and the time left of the running track; while
// several tracks run (one read, others compressed) the line shows each of
// them, "1: сжатие 40%  2: сжатие 12%  3: копирование 55%". Otherwise (a log file,
// a pipe): nothing while a track runs and one line when it ends, so logs
// hold one line per track.
#pragma once

#include <functional>
#include <map>
#include <ostream>
#include <string>

namespace sonarvex {

// How a command shows its progress on standard error: nothing but failures
// (verbosity < 0, -q), an updating line (a terminal), or one line per
// finished item (a pipe or a file: no carriage returns).
struct ProgressMode {
  int verbosity = 0;
  bool terminal = false;
};

class CliProgress {
 public:
  using Clock = std::function<double()>;  // seconds, monotonic
  // verbosity < 0: nothing is shown.
  CliProgress(std::ostream& err, bool terminal, int verbosity, Clock clock = {});

  // A track (row, 0-based) starts; it plays for trackSeconds.
  void Start(int row, double trackSeconds);
  // The loop's status text for the row: "копирование N%", "сжатие N%"
  // while it runs, anything else when it has ended ("Ошибка" shows nothing:
  // the failure's own line says why).
  void Status(int row, const std::string& text);
  // The number shown for row 0 (a disc may be numbered from another track
  // than 1).
  void SetFirstTrackNumber(int number) { firstNumber_ = number; }
  // Ends an updating line that is still open (before another message).
  void CloseLine();
  bool LineOpen() const { return lineOpen_; }

 private:
  struct Track {
    double seconds = 0;
    double start = 0;
    double phaseStart = 0;
    std::string phase;
    std::string status;  // "N: " and the loop's text
    std::string line;    // the same with speed and time left
    bool running = false;
  };
  Track& Row(int row);
  // The updating line of every running track.
  void Redraw();

  std::ostream& err_;
  bool terminal_;
  int verbosity_;
  Clock clock_;
  std::map<int, Track> tracks_;
  bool lineOpen_ = false;
  int firstNumber_ = 1;
};

// Why a file named on the command line cannot be read, in Russian ("" when
// it is a regular file that can be opened): "файл не найден", "нет прав на
// чтение", "это папка, а не файл", ...
std::string FileProblem(const std::string& path);

// "M:SS" of whole seconds.
std::string MinutesSeconds(double seconds);

}  // namespace sonarvex
