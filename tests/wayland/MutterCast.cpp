#include "MutterCast.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QVariantMap>

#include <stdexcept>

namespace kestrova::testing {
namespace {

const QString kRemoteDesktop = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kScreenCast = QStringLiteral("org.gnome.Mutter.ScreenCast");
// mutter's own numbering (the portal's differs): 0 hidden, 1 embedded, 2 metadata.
constexpr uint kCursorEmbedded = 1;
constexpr uint kCursorAsMetadata = 2;

}  // namespace

MutterCast::MutterCast(QDBusConnection bus, Cursor cursor, const QString& connector)
    : bus_(std::move(bus)) {
  remotePath_ =
      call(kRemoteDesktop, "/org/gnome/Mutter/RemoteDesktop", kRemoteDesktop, "CreateSession")
          .arguments()
          .value(0)
          .value<QDBusObjectPath>()
          .path();
  const QString sessionId = call(kRemoteDesktop, remotePath_, "org.freedesktop.DBus.Properties",
                                 "Get", {kRemoteDesktop + ".Session", QStringLiteral("SessionId")})
                                .arguments()
                                .value(0)
                                .value<QDBusVariant>()
                                .variant()
                                .toString();
  const QString castPath =
      call(kScreenCast, "/org/gnome/Mutter/ScreenCast", kScreenCast, "CreateSession",
           {QVariantMap{{"remote-desktop-session-id", sessionId}}})
          .arguments()
          .value(0)
          .value<QDBusObjectPath>()
          .path();
  streamPath_ =
      call(kScreenCast, castPath, kScreenCast + ".Session", "RecordMonitor",
           {connector, QVariantMap{{"cursor-mode", QVariant::fromValue(cursor == Cursor::metadata
                                                                           ? kCursorAsMetadata
                                                                           : kCursorEmbedded)}}})
          .arguments()
          .value(0)
          .value<QDBusObjectPath>()
          .path();
  bus_.connect(kScreenCast, streamPath_, kScreenCast + ".Stream", "PipeWireStreamAdded", this,
               SLOT(streamAdded(uint)));
  // A cast tied to a remote-desktop session starts with it.
  call(kRemoteDesktop, remotePath_, kRemoteDesktop + ".Session", "Start");
  QElapsedTimer waited;
  waited.start();
  while (!node_ && waited.elapsed() < 10000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  if (!node_) throw std::runtime_error("mutter announced no PipeWire stream for its cast");
}

MutterCast::~MutterCast() {
  try {
    stop();
  } catch (const std::exception&) {
    // mutter is gone already: nothing left to end.
  }
}

void MutterCast::streamAdded(uint node) {
  node_ = node;
}

void MutterCast::moveTo(double x, double y) {
  call(kRemoteDesktop, remotePath_, kRemoteDesktop + ".Session", "NotifyPointerMotionAbsolute",
       {streamPath_, x, y});
}

void MutterCast::stop() {
  if (stopped_) return;
  stopped_ = true;
  call(kRemoteDesktop, remotePath_, kRemoteDesktop + ".Session", "Stop");
}

QDBusMessage MutterCast::call(const QString& service, const QString& path, const QString& interface,
                              const QString& method, const QList<QVariant>& args) {
  QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
  m.setArguments(args);
  QDBusMessage reply = bus_.call(m, QDBus::Block, 10000);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    throw std::runtime_error("mutter: " + method.toStdString() +
                             " failed: " + reply.errorMessage().toStdString());
  }
  return reply;
}

}  // namespace kestrova::testing
