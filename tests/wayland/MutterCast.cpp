#include "MutterCast.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QVariantMap>

#include <stdexcept>

namespace kestrova::testing {
namespace {

const QString kRemoteDesktop = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kScreenCast = QStringLiteral("org.gnome.Mutter.ScreenCast");

}  // namespace

MutterCast::MutterCast(QDBusConnection bus, Cursor cursor, const QString& connector)
    : bus_(std::move(bus)) {
  const auto path = [](const QVariant& v) { return v.value<QDBusObjectPath>().path(); };
  remotePath_ = path(
      call(kRemoteDesktop, "/org/gnome/Mutter/RemoteDesktop", kRemoteDesktop, "CreateSession"));
  const QVariant sessionId = call(kRemoteDesktop, remotePath_, "org.freedesktop.DBus.Properties",
                                  "Get", {kRemoteDesktop + ".Session", QStringLiteral("SessionId")})
                                 .value<QDBusVariant>()
                                 .variant();
  const QString castPath =
      path(call(kScreenCast, "/org/gnome/Mutter/ScreenCast", kScreenCast, "CreateSession",
                {QVariantMap{{"remote-desktop-session-id", sessionId}}}));
  streamPath_ = path(call(kScreenCast, castPath, kScreenCast + ".Session", "RecordMonitor",
                          {connector, QVariantMap{{"cursor-mode", static_cast<uint>(cursor)}}}));
  bus_.connect(kScreenCast, streamPath_, kScreenCast + ".Stream", "PipeWireStreamAdded", this,
               SLOT(streamAdded(uint)));
  // A cast tied to a remote-desktop session starts with it.
  call(kRemoteDesktop, remotePath_, kRemoteDesktop + ".Session", "Start");
  for (QDeadlineTimer deadline(10000); !node_ && !deadline.hasExpired();)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  if (!node_) throw std::runtime_error("mutter announced no PipeWire stream for its cast");
}

MutterCast::~MutterCast() {
  try {
    stop();
  } catch (const std::exception&) {
    // Ended already, or mutter is gone: nothing left to end.
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
  call(kRemoteDesktop, remotePath_, kRemoteDesktop + ".Session", "Stop");
}

QVariant MutterCast::call(const QString& service, const QString& path, const QString& interface,
                          const QString& method, const QList<QVariant>& args) {
  QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
  m.setArguments(args);
  QDBusMessage reply = bus_.call(m, QDBus::Block, 10000);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    throw std::runtime_error("mutter: " + method.toStdString() +
                             " failed: " + reply.errorMessage().toStdString());
  }
  return reply.arguments().value(0);
}

}  // namespace kestrova::testing
