#include "RemoteCommands.h"

#include "ControllerFixture.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using RemoteCommandsTest = testing::ControllerFixture;

// The verbs of the command line, as a later copy sends them, in every state they meet.
TEST_F(RemoteCommandsTest, EachVerbDrivesTheControllerAsTheHotKeysDo) {
  int broughtToFront = 0;
  RemoteCommands commands(controller(), [&] { ++broughtToFront; });
  const auto expect = [&](const char* command, const char* answer, RecordingState after) {
    SCOPED_TRACE(command);
    EXPECT_EQ(commands.answer(command).trimmed().toStdString(), answer);
    EXPECT_EQ(state(), after);
  };
  const RecordingState idle = RecordingState::idle(), three = RecordingState::countdown(3);
  expect("status", "0 idle 00:00", idle);
  expect("pause", "1 Kestrova is not recording.", idle);
  expect("toggle", "0", three);
  expect("stop", "0", idle);
  script_.blockStop = true;  // to see the file being saved
  expect("toggle", "0", three);

  advance(3s);
  ASSERT_TRUE(settle([this] { return state() == RecordingState::recording(); }));
  advance(2500ms);
  expect("pause", "0", RecordingState::paused());
  advance(4s);
  expect("status", "0 paused 00:02", RecordingState::paused());
  expect("pause", "0", RecordingState::recording());

  expect("toggle", "0", idle);
  expect("status", "0 saving 00:00", idle);
  expect("toggle", "1 The last recording is still being saved; try again in a moment.", idle);
  engine().stopGate.open();
  ASSERT_TRUE(settle([this] { return !controller().isFinishing(); }));

  expect("activate", "0", idle);
  EXPECT_EQ(broughtToFront, 1);
  expect("record-everything", "2 Unknown command \u201crecord-everything\u201d.", idle);
}

}  // namespace
}  // namespace kestrova
