#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace kestrova {

// "Kestrova 2026-12-05 at 14.07.09.mp4" for a recording started then, in the default locale's
// digits and in `when`'s own time zone (local time for QDateTime::currentDateTime()).
QString recordingFileName(const QDateTime& when);

// The folder that receives a recording, or why there is none.
struct OutputFolder {
  QString path;   // set when found
  QString error;  // set when not: where it tried, for the user
};

// `preferred` (the "outputPath" preference) when it is a writable folder; otherwise
// `defaultFolder`, created when missing. When that cannot be written either, no folder: the
// recording must not start. The preference is never changed here.
OutputFolder resolveOutputFolder(const std::optional<QString>& preferred,
                                 const QString& defaultFolder);

// The file of a recording started `when`: a time-stamped name in the folder resolveOutputFolder()
// gives for the "outputPath" preference. `path` is the file's; without a folder, `error` says why.
// Main thread only (reads the preferences).
OutputFolder recordingFile(const QDateTime& when);

}  // namespace kestrova
