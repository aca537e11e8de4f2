#pragma once

#include <QString>

#include <functional>

namespace kestrova {

class AppController;

// Carries out the command-line verbs that a later copy of the program (`kestrova --toggle`,
// `--pause`, `--stop`, `--status`) sends to the running one, through the same controller
// operations as the hot keys, and words the answer.
//
// An answer is one line: the exit code the later copy ends with, a space, and the text it prints
// (on standard output for 0, standard error otherwise). Main thread only.
class RemoteCommands {
 public:
  struct Answer {
    int exitCode = 0;
    QString text;
  };

  // `bringToFront` shows the main window (the "activate" command of a plain second start).
  RemoteCommands(AppController& controller, std::function<void()> bringToFront);

  // Runs `command` ("toggle", "pause", "stop", "status" or "activate") and answers it.
  Answer run(const QString& command);
  QString answer(const QString& command) { return encode(run(command)); }

  // "<state> <mm:ss>": state is idle, saving, countdown, recording or paused; the time is the
  // recorded time of a running recording, 00:00 otherwise.
  static QString statusLine(const AppController& controller);

  static QString encode(const Answer& answer);
  // An answer that does not parse becomes exit code 1 with the raw line.
  static Answer decode(const QString& line);

 private:
  Answer toggle();

  AppController& controller_;
  std::function<void()> bringToFront_;
};

}  // namespace kestrova
