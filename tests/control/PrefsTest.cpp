#include "Prefs.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>

#include "OutputFiles.h"

namespace kestrova {
namespace {

// Each test gets a settings folder of its own, so the file starts empty (or as the test writes it).
class PrefsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path());
    Prefs::registerDefaults();
  }

  // Writes the settings file as a user with a text editor would.
  void writeSettingsFile(const char* text) {
    QDir().mkpath(dir_.path() + "/Kestrova");
    QFile file(dir_.path() + "/Kestrova/Kestrova.conf");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  }

  QTemporaryDir dir_;
};

TEST_F(PrefsTest, KeysNeverSetReadAsTheirDefaults) {
  EXPECT_EQ(Prefs::string(Prefs::kPreset), QStringLiteral("1080p"));
  EXPECT_EQ(Prefs::integer(Prefs::kCustomWidth), 1280);
  EXPECT_EQ(Prefs::integer(Prefs::kCustomHeight), 720);
  EXPECT_EQ(Prefs::integer(Prefs::kFps), 30);
  EXPECT_EQ(Prefs::real(Prefs::kSmoothing), 0.5);
  EXPECT_EQ(Prefs::real(Prefs::kDeadZone), 0.25);
  EXPECT_TRUE(Prefs::boolean(Prefs::kClicks));
  EXPECT_EQ(Prefs::string(Prefs::kOutputPath), Prefs::defaultFolder());
  EXPECT_EQ(Prefs::integer(Prefs::kDisplayID), 0);
  // Registered values are not written to the file.
  EXPECT_FALSE(QFile::exists(dir_.path() + "/Kestrova/Kestrova.conf"));
  // A key with no default at all reads as nothing.
  EXPECT_EQ(Prefs::string("unknown"), std::nullopt);
  EXPECT_EQ(Prefs::integer("unknown"), 0);
}

TEST_F(PrefsTest, AHandEditedFileReadsItsGoodValuesAndDefaultsForTheBadOnes) {
  writeSettingsFile(
      "[General]\n"
      "fps=60\n"
      "customW=1000\n"
      "smoothing=0.75\n"
      "clicks=false\n"
      "outputPath=/srv/videos\n"
      "customH=tall\n"          // a word where a number belongs
      "deadZone=nan\n"          // not a finite number
      "displayID=7.5e\n"        // not a number
      "preset=720p, 1080p\n");  // an INI list, not one string
  EXPECT_EQ(Prefs::integer(Prefs::kFps), 60);
  EXPECT_EQ(Prefs::integer(Prefs::kCustomWidth), 1000);
  EXPECT_EQ(Prefs::real(Prefs::kSmoothing), 0.75);
  EXPECT_FALSE(Prefs::boolean(Prefs::kClicks));
  EXPECT_EQ(Prefs::string(Prefs::kOutputPath), QStringLiteral("/srv/videos"));
  EXPECT_EQ(Prefs::integer(Prefs::kCustomHeight), 720);
  EXPECT_EQ(Prefs::real(Prefs::kDeadZone), 0.25);
  EXPECT_EQ(Prefs::integer(Prefs::kDisplayID), 0);
  EXPECT_EQ(Prefs::string(Prefs::kPreset), QStringLiteral("1080p"));

  writeSettingsFile("[General]\nclicks=perhaps\n");
  EXPECT_TRUE(Prefs::boolean(Prefs::kClicks));
}

TEST_F(PrefsTest, OutputSizeFollowsThePresetAndClampsCustomSizes) {
  struct Case {
    QVariant preset;
    QVariant w, h;
    OutputSize expected;
  } cases[] = {
      {"720p", {}, {}, {1280, 720}},      {"1080p", {}, {}, {1920, 1080}},
      {"4k", {}, {}, {1920, 1080}},       {"", {}, {}, {1920, 1080}},
      {{}, {}, {}, {1920, 1080}},         {"custom", {}, {}, {1280, 720}},
      {"custom", 1001, 99, {1000, 160}},  {"custom", 9000, 7681, {7680, 7680}},
      {"custom", 161, 7679, {160, 7678}}, {"custom", -5, -400, {160, 160}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.preset.toString().toStdString() + " " + c.w.toString().toStdString() + "x" +
                 c.h.toString().toStdString());
    for (auto [key, value] :
         {std::pair{Prefs::kPreset, c.preset}, std::pair{Prefs::kCustomWidth, c.w},
          std::pair{Prefs::kCustomHeight, c.h}}) {
      if (value.isValid())
        Prefs::set(key, value);
      else
        Prefs::remove(key);
    }
    EXPECT_EQ(Prefs::outputSize(), c.expected);
  }
  // The clamp is for the recording only: the stored values stay as they were.
  EXPECT_EQ(Prefs::integer(Prefs::kCustomWidth), -5);
}

TEST(RecordingFileName, IsTheStartTimeInTheLocalZone) {
  EXPECT_EQ(recordingFileName(QDateTime(QDate(2026, 12, 5), QTime(14, 7, 9))),
            QStringLiteral("Kestrova 2026-12-05 at 14.07.09.mp4"));
  EXPECT_EQ(recordingFileName(QDateTime(QDate(2027, 2, 1), QTime(9, 5, 3))),
            QStringLiteral("Kestrova 2027-02-01 at 09.05.03.mp4"));
  // An instant given in UTC is named in its own zone, as it was passed.
  EXPECT_EQ(recordingFileName(QDateTime(QDate(2027, 2, 1), QTime(23, 59, 59), Qt::UTC)),
            QStringLiteral("Kestrova 2027-02-01 at 23.59.59.mp4"));
}

TEST(ResolveOutputFolder, FallsBackToTheDefaultFolderAndCreatesIt) {
  QTemporaryDir dir;
  const QString chosen = dir.path() + "/chosen";
  const QString fallback = dir.path() + "/Videos";
  ASSERT_TRUE(QDir().mkpath(chosen));

  EXPECT_EQ(resolveOutputFolder(chosen, fallback).path, chosen);
  EXPECT_FALSE(QFileInfo::exists(fallback)) << "made without need";

  ASSERT_TRUE(QDir(chosen).removeRecursively());  // deleted since it was chosen
  const OutputFolder folder = resolveOutputFolder(chosen, fallback);
  EXPECT_EQ(folder.path, fallback);
  EXPECT_TRUE(QFileInfo(fallback).isDir());

  EXPECT_EQ(resolveOutputFolder(std::nullopt, fallback).path, fallback);
}

TEST(ResolveOutputFolder, WithNoWritableFolderSaysWhereItTried) {
  QTemporaryDir dir;
  // A file where the default folder should be: it can be neither used nor created.
  QFile blocker(dir.path() + "/Videos");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  const QString fallback = dir.path() + "/Videos/Kestrova";

  OutputFolder folder = resolveOutputFolder(dir.path() + "/gone", fallback);
  EXPECT_TRUE(folder.path.isEmpty());
  EXPECT_EQ(folder.error, "The recording could not start: Kestrova cannot write to “" + dir.path() +
                              "/gone” or to the default folder “" + fallback +
                              "”. Choose another output folder.");

  folder = resolveOutputFolder(std::nullopt, fallback);
  EXPECT_EQ(folder.error, "The recording could not start: Kestrova cannot write to the folder “" +
                              fallback + "”. Choose another output folder.");
}

}  // namespace
}  // namespace kestrova
