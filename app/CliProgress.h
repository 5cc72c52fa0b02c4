// The progress of a command-line rip on standard error. On a terminal: one
// line per track that updates itself, with the percentage, the speed (how
// many times faster than playing) and the time left. Otherwise (a log file,
// a pipe): nothing while a track runs and one line when it ends, so logs
// hold one line per track.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace sonarvex {

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
  // Ends an updating line that is still open (before another message).
  void CloseLine();
  bool LineOpen() const { return lineOpen_; }

 private:
  std::ostream& err_;
  bool terminal_;
  int verbosity_;
  Clock clock_;
  int row_ = -1;
  double trackSeconds_ = 0;
  double trackStart_ = 0;
  double phaseStart_ = 0;
  std::string phase_;
  bool lineOpen_ = false;
};

// "M:SS" of whole seconds.
std::string MinutesSeconds(double seconds);

}  // namespace sonarvex
