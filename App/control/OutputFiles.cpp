#include "OutputFiles.h"

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QLocale>

#include "Prefs.h"

namespace kestrova {
namespace {

bool isWritableFolder(const QString& path) {
  if (path.isEmpty()) return false;
  const QByteArray native = QFile::encodeName(path);
  // access() rather than mode bits: it also knows ACLs and read-only mounts.
  return QFileInfo(path).isDir() && ::access(native.constData(), W_OK | X_OK) == 0;
}

}  // namespace

QString recordingFileName(const QDateTime& when) {
  return QStringLiteral("Kestrova ") +
         QLocale().toString(when, QStringLiteral("yyyy-MM-dd 'at' HH.mm.ss")) +
         QStringLiteral(".mp4");
}

OutputFolder resolveOutputFolder(const std::optional<QString>& preferred,
                                 const QString& defaultFolder) {
  const QString first = preferred.value_or(defaultFolder);
  if (isWritableFolder(first)) return {first, {}};
  // A fresh account often has no Videos folder yet.
  if (!QFileInfo::exists(defaultFolder)) QDir().mkpath(defaultFolder);
  if (isWritableFolder(defaultFolder)) return {defaultFolder, {}};

  const auto quoted = [](const QString& p) {
    return QStringLiteral("“") + QDir::toNativeSeparators(p) + QStringLiteral("”");
  };
  const QString where =
      first == defaultFolder
          ? QStringLiteral("the folder ") + quoted(first)
          : quoted(first) + QStringLiteral(" or to the default folder ") + quoted(defaultFolder);
  return {{},
          QStringLiteral("The recording could not start: Kestrova cannot write to ") + where +
              QStringLiteral(". Choose another output folder.")};
}

OutputFolder recordingFile(const QDateTime& when) {
  OutputFolder folder =
      resolveOutputFolder(Prefs::string(Prefs::kOutputPath), Prefs::defaultFolder());
  if (!folder.path.isEmpty()) folder.path += QLatin1Char('/') + recordingFileName(when);
  return folder;
}

}  // namespace kestrova
