#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

#include "RemoteCommands.h"
#include "SingleInstance.h"

namespace kestrova::command_line {
namespace {

struct VerbName {
  Verb verb;
  const char* name;
  const char* help;
};

constexpr VerbName kVerbs[] = {
    {Verb::toggle, "toggle",
     "Start a recording (with the countdown), or stop the one that runs. Starts Kestrova first "
     "when it is not running."},
    {Verb::pause, "pause", "Pause the recording, or resume it."},
    {Verb::stop, "stop", "Stop the recording (or its countdown)."},
    {Verb::status, "status",
     "Print the state (idle, saving, countdown, recording or paused) and the recorded time."},
};

void print(std::FILE* stream, const QString& text) {
  if (text.isEmpty()) return;
  std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
}

}  // namespace

bool needsNoWindow(int argc, char** argv) {
  // Only --toggle may open the window; Qt's own options (-platform, -display…) take one dash.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--toggle") == 0) continue;
    if (std::strncmp(argv[i], "--", 2) == 0) return true;
    for (const char* word : {"-h", "-?", "-v"}) {
      if (std::strcmp(argv[i], word) == 0) return true;
    }
  }
  return false;
}

std::optional<Verb> parse(const QCoreApplication& app) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Records a window of the screen that follows the mouse pointer.\n"
      "With no option, opens Kestrova's window. An option controls the Kestrova that runs in "
      "this desktop session, as its hot keys do."));
  parser.addHelpOption();
  parser.addVersionOption();
  for (const VerbName& v : kVerbs) {
    parser.addOption(QCommandLineOption(QString::fromLatin1(v.name), QString::fromUtf8(v.help)));
  }
  parser.process(app);

  if (!parser.positionalArguments().isEmpty()) {
    print(stderr,
          QStringLiteral("kestrova: unexpected argument \u201c%1\u201d; see kestrova --help.")
              .arg(parser.positionalArguments().first()));
    return std::nullopt;
  }
  Verb chosen = Verb::none;
  for (const VerbName& v : kVerbs) {
    if (!parser.isSet(QString::fromLatin1(v.name))) continue;
    if (chosen != Verb::none) {
      print(stderr,
            QStringLiteral("kestrova: give only one of --toggle, --pause, --stop and --status."));
      return std::nullopt;
    }
    chosen = v.verb;
  }
  return chosen;
}

int forward(const SingleInstance& instance, Verb verb, bool lockHeld) {
  QString command = QStringLiteral("activate");
  for (const VerbName& v : kVerbs) {
    if (v.verb == verb) command = QString::fromLatin1(v.name);
  }
  const std::optional<QString> line = instance.send(command);
  if (!line) {
    if (verb == Verb::none) return 0;  // nothing to bring to the front after all
    print(stderr, lockHeld ? QStringLiteral("kestrova: Kestrova runs in this session but does not "
                                            "answer; try again in a moment.")
                           : QStringLiteral("kestrova: Kestrova is not running in this session. "
                                            "Start it, or use kestrova --toggle to start it and "
                                            "record."));
    return 1;
  }
  const RemoteCommands::Answer answer = RemoteCommands::decode(*line);
  if (answer.exitCode == 0)
    print(stdout, answer.text);
  else
    print(stderr, QStringLiteral("kestrova: ") + answer.text);
  return answer.exitCode;
}

}  // namespace kestrova::command_line
