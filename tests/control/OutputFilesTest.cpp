#include "OutputFiles.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QTemporaryDir>

namespace kestrova {
namespace {

TEST(RecordingFileName, IsTheStartTimeInItsOwnZone) {
  EXPECT_EQ(recordingFileName(QDateTime(QDate(2027, 2, 1), QTime(9, 5, 3))),
            QStringLiteral("Kestrova 2027-02-01 at 09.05.03.mp4"));
  EXPECT_EQ(recordingFileName(QDateTime(QDate(2026, 12, 5), QTime(23, 59, 59), Qt::UTC)),
            QStringLiteral("Kestrova 2026-12-05 at 23.59.59.mp4"));
}

// Where neither can be written: AppControllerTest.
TEST(ResolveOutputFolder, FallsBackToTheDefaultFolderAndCreatesIt) {
  QTemporaryDir dir;
  const QString chosen = dir.path() + "/chosen", fallback = dir.path() + "/Videos";
  ASSERT_TRUE(QDir().mkpath(chosen));
  EXPECT_EQ(resolveOutputFolder(chosen, fallback).path, chosen);
  EXPECT_FALSE(QFileInfo::exists(fallback)) << "made without need";

  ASSERT_TRUE(QDir(chosen).removeRecursively());  // deleted since it was chosen
  EXPECT_EQ(resolveOutputFolder(chosen, fallback).path, fallback);
  EXPECT_TRUE(QFileInfo(fallback).isDir());
  EXPECT_EQ(resolveOutputFolder(std::nullopt, fallback).path, fallback);
}

}  // namespace
}  // namespace kestrova
