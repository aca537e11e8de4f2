// kestrova-record as a user runs it on a real X server: the finished file's path on standard
// output, and the recorder's one line about its frames on standard error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "support/XvfbServer.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& file) {
  std::ifstream in(file);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(RecordTool, PrintsTheFileAndTheFramesWrittenSkippedAndDropped) {
  testing::XvfbServer server(640, 400);
  const fs::path dir = fs::temp_directory_path() / ("kestrova-record-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path video = dir / "take.mp4", out = dir / "out.txt", err = dir / "err.txt";
  // An X11 session of its own, whatever session runs the tests, with preferences of its own.
  const std::string command =
      "env -u WAYLAND_DISPLAY XDG_SESSION_TYPE=x11 DISPLAY=" + server.display() +
      " XDG_CONFIG_HOME=" + dir.string() + " " + KESTROVA_RECORD_TOOL +
      " --seconds 1 --size 320x200 --output " + video.string() + " >" + out.string() + " 2>" +
      err.string();

  ASSERT_EQ(std::system(command.c_str()), 0) << contents(err);
  EXPECT_EQ(contents(out), video.string() + "\n");
  EXPECT_GT(fs::file_size(video), 0u);
  // Qt may warn about the environment on the same stream; the recorder says its line once.
  const std::regex line(
      "kestrova: ([0-9]+) frames written, [0-9]+ skipped in capture, [0-9]+ dropped"
      "( \\([0-9]+ [a-z ]+(, [0-9]+ [a-z ]+)*\\))?\n");
  std::smatch match;
  const std::string said = contents(err);
  ASSERT_TRUE(std::regex_search(said, match, line)) << said;
  EXPECT_EQ(said.find("frames written"), said.rfind("frames written")) << said;
  EXPECT_GE(std::stoi(match[1]), 1) << "a still screen still gives its first and last frame";
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kestrova
