#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <cstdint>

namespace kestrova::testing {

// A screen cast of one of mutter's monitors (the first unless told) through mutter's own D-Bus
// API (no portal, no dialog), tied to a remote-desktop session that drives the pointer. Each one
// is a fresh PipeWire stream, which matters: the first consumer of a stream fixes its buffers'
// metadata for all later ones.
//
// The sessions live as long as this object's bus connection and the object. Main thread only.
class MutterCast : public QObject {
  Q_OBJECT

 public:
  // How the pointer reaches the stream's consumer, in mutter's own numbering (the portal's
  // differs).
  enum class Cursor : uint { embedded = 1, metadata = 2 };

  // Casts the monitor on `connector` ("Meta-1" is a second virtual monitor). Throws
  // std::runtime_error when mutter refuses or no stream appears.
  explicit MutterCast(QDBusConnection bus, Cursor cursor = Cursor::metadata,
                      const QString& connector = QStringLiteral("Meta-0"));
  ~MutterCast() override;

  // The cast's PipeWire node on the session's default daemon.
  std::uint32_t node() const { return node_; }

  // Moves the pointer to (x, y), monitor pixels from the top-left.
  void moveTo(double x, double y);
  // Ends the cast as the desktop's "stop sharing" does: its stream goes away. Once.
  void stop();

 private slots:
  void streamAdded(uint node);

 private:
  // The reply's first argument.
  QVariant call(const QString& service, const QString& path, const QString& interface,
                const QString& method, const QList<QVariant>& args = {});

  QDBusConnection bus_;
  QString remotePath_;
  QString streamPath_;
  std::uint32_t node_ = 0;
};

}  // namespace kestrova::testing
