#include "OutputFiles.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace kestrova {
namespace {

TEST(RecordingFileName, IsTheStartTimeInItsOwnZone) {
  EXPECT_EQ(recordingFileName(QDateTime(QDate(2027, 2, 1), QTime(9, 5, 3))),
            QStringLiteral("Kestrova 2027-02-01 at 09.05.03.mp4"));
  EXPECT_EQ(recordingFileName(QDateTime(QDate(2026, 12, 5), QTime(23, 59, 59), Qt::UTC)),
            QStringLiteral("Kestrova 2026-12-05 at 23.59.59.mp4"));
}

TEST(ResolveOutputFolder, FallsBackToTheDefaultFolderAndCreatesItOrSaysWhereItTried) {
  QTemporaryDir dir;
  const QString chosen = dir.path() + "/chosen", fallback = dir.path() + "/Videos";
  ASSERT_TRUE(QDir().mkpath(chosen));
  EXPECT_EQ(resolveOutputFolder(chosen, fallback).path, chosen);
  EXPECT_FALSE(QFileInfo::exists(fallback)) << "made without need";

  ASSERT_TRUE(QDir(chosen).removeRecursively());  // deleted since it was chosen
  EXPECT_EQ(resolveOutputFolder(chosen, fallback).path, fallback);
  EXPECT_TRUE(QFileInfo(fallback).isDir());
  EXPECT_EQ(resolveOutputFolder(std::nullopt, fallback).path, fallback);

  // A file where the default folder should be: it can be neither used nor created.
  QFile blocker(dir.path() + "/file");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  const QString blocked = dir.path() + "/file/Kestrova";
  OutputFolder folder = resolveOutputFolder(chosen, blocked);
  EXPECT_TRUE(folder.path.isEmpty());
  EXPECT_EQ(folder.error, "The recording could not start: Kestrova cannot write to “" + chosen +
                              "” or to the default folder “" + blocked +
                              "”. Choose another output folder.");
  folder = resolveOutputFolder(std::nullopt, blocked);
  EXPECT_EQ(folder.error, "The recording could not start: Kestrova cannot write to the folder “" +
                              blocked + "”. Choose another output folder.");
}

}  // namespace
}  // namespace kestrova
