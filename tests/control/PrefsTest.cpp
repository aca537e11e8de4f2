#include "Prefs.h"

#include <QDir>
#include <QFile>

#include "ControllerFixture.h"

namespace kestrova {
namespace {

class PrefsTest : public testing::ControllerFixture {
 protected:
  // Writes the settings file as a user with a text editor would.
  void writeSettingsFile(const char* text) {
    QDir().mkpath(settingsDir_.path() + "/Kestrova");
    QFile file(settingsDir_.path() + "/Kestrova/Kestrova.conf");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  }
};

TEST_F(PrefsTest, AHandEditedFileReadsItsGoodValuesAndDefaultsForTheBadOnes) {
  writeSettingsFile(
      "[General]\n"
      "fps=60\n"
      "clicks=false\n"
      "outputPath=/srv/videos\n"
      "customH=tall\n"          // a word where a number belongs
      "deadZone=nan\n"          // not a finite number
      "displayID=7.5e\n"        // not a number
      "preset=720p, 1080p\n");  // an INI list, not one string
  EXPECT_EQ(Prefs::integer(Prefs::kFps), 60);
  EXPECT_FALSE(Prefs::boolean(Prefs::kClicks));
  EXPECT_EQ(Prefs::string(Prefs::kOutputPath), QStringLiteral("/srv/videos"));
  EXPECT_EQ(Prefs::integer(Prefs::kCustomHeight), 720);
  EXPECT_EQ(Prefs::real(Prefs::kDeadZone), 0.25);
  EXPECT_EQ(Prefs::integer(Prefs::kDisplayID), 0);
  EXPECT_EQ(Prefs::string(Prefs::kPreset), QStringLiteral("1080p"));

  writeSettingsFile("[General]\nclicks=perhaps\n");
  EXPECT_TRUE(Prefs::boolean(Prefs::kClicks));
  EXPECT_EQ(Prefs::string(Prefs::kOutputPath), Prefs::defaultFolder()) << "a key never set";
}

TEST_F(PrefsTest, RecordingSettingsClampSizesAndRatesAndTakeTheRestAsItIs) {
  const struct {
    QVariant preset, w, h;  // invalid: not set
    OutputSize expected;
  } sizes[] = {
      {"720p", {}, {}, {1280, 720}},        {"1080p", {}, {}, {1920, 1080}},
      {"4k", {}, {}, {1920, 1080}},         {{}, {}, {}, {1920, 1080}},
      {"custom", {}, {}, {1280, 720}},      {"custom", 1001, 99, {1000, 160}},
      {"custom", 9000, 7681, {7680, 7680}}, {"custom", 161, 7679, {160, 7678}},
  };
  for (const auto& c : sizes) {
    SCOPED_TRACE(&c - sizes);
    const std::pair<const char*, QVariant> values[] = {
        {Prefs::kPreset, c.preset}, {Prefs::kCustomWidth, c.w}, {Prefs::kCustomHeight, c.h}};
    for (const auto& [key, value] : values) {
      if (value.isValid())
        Prefs::set(key, value);
      else
        Prefs::remove(key);
    }
    EXPECT_EQ(Prefs::outputSize(), c.expected);
    EXPECT_EQ(Prefs::recordingSettings().width, c.expected.width);
  }
  EXPECT_EQ(Prefs::integer(Prefs::kCustomWidth), 161) << "clamped for the recording only";

  const std::pair<int, int> rates[] = {{60, 60}, {30, 30}, {24, 30}, {120, 30}};
  for (const auto& [fps, expected] : rates) {
    Prefs::set(Prefs::kFps, fps);
    EXPECT_EQ(Prefs::recordingSettings().fps, expected) << fps;
  }
  Prefs::set(Prefs::kDeadZone, 0.1);
  Prefs::set(Prefs::kClicks, false);
  EXPECT_EQ(Prefs::recordingSettings().deadZone, 0.1);
  EXPECT_FALSE(Prefs::recordingSettings().clickIndicator);
}

}  // namespace
}  // namespace kestrova
