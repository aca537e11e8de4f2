#include "RemoteCommands.h"

#include "AppController.h"

namespace kestrova {
namespace {

const QString kNotRecording = QStringLiteral("Kestrova is not recording.");

}  // namespace

RemoteCommands::RemoteCommands(AppController& controller, std::function<void()> bringToFront)
    : controller_(controller), bringToFront_(std::move(bringToFront)) {}

RemoteCommands::Answer RemoteCommands::run(const QString& command) {
  const RecordingState state = controller_.state();
  if (command == u"toggle") return toggle();
  if (command == u"pause") {
    if (!state.isActive()) return {1, kNotRecording};
    controller_.togglePause();
    return {};
  }
  if (command == u"stop") {
    if (state.isCountdown())
      controller_.cancelCountdown();
    else if (state.isActive())
      controller_.stop();
    else
      return {1, kNotRecording};
    return {};
  }
  if (command == u"status") return {0, statusLine(controller_)};
  if (command == u"activate") {
    if (bringToFront_) bringToFront_();
    return {};
  }
  return {2, QStringLiteral("Unknown command \u201c%1\u201d.").arg(command.left(40))};
}

RemoteCommands::Answer RemoteCommands::toggle() {
  const bool wasIdle = controller_.state().isIdle();
  controller_.startOrStop();
  if (!wasIdle || !controller_.state().isIdle()) return {};
  // begin() declined; say why, as the window would.
  if (!controller_.hasPermission())
    return {1, QStringLiteral("Kestrova may not record this session; see its window.")};
  if (controller_.isFinishing())
    return {1, QStringLiteral("The last recording is still being saved; try again in a moment.")};
  if (!controller_.message().isEmpty()) return {1, controller_.message()};
  return {};
}

QString RemoteCommands::statusLine(const AppController& controller) {
  const RecordingState state = controller.state();
  switch (state.phase()) {
    case RecordingState::Phase::idle:
      return controller.isFinishing() ? QStringLiteral("saving 00:00")
                                      : QStringLiteral("idle 00:00");
    case RecordingState::Phase::countdown:
      return QStringLiteral("countdown 00:00");
    case RecordingState::Phase::recording:
      return QStringLiteral("recording ") + formatTime(controller.elapsed());
    case RecordingState::Phase::paused:
      return QStringLiteral("paused ") + formatTime(controller.elapsed());
  }
  return {};
}

QString RemoteCommands::encode(const Answer& answer) {
  return QString::number(answer.exitCode) + u' ' + answer.text;
}

RemoteCommands::Answer RemoteCommands::decode(const QString& line) {
  const qsizetype space = line.indexOf(u' ');
  bool ok = false;
  const int code = (space < 0 ? line : line.left(space)).toInt(&ok);
  if (!ok) return {1, line};
  return {code, space < 0 ? QString() : line.mid(space + 1)};
}

}  // namespace kestrova
