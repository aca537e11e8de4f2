#include "ScreenCastPortal.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>

#include <fcntl.h>

#include <atomic>
#include <deque>
#include <future>
#include <optional>

#include "RecorderError.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kObjectPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

// The portal's values: source types and cursor modes are bit masks.
constexpr uint kMonitorSource = 1;
constexpr uint kCursorMetadata = 4;
constexpr uint kPersistUntilRevoked = 2;
// restore_token and persist_mode came with version 4 of the interface.
constexpr uint kFirstVersionWithTokens = 4;

// Steps other than the dialog answer at once; a portal silent this long is stuck. The dialog
// itself waits for the user as long as it takes.
constexpr auto kStepTimeout = 30s;

const char* const kNoPortal =
    "Screen sharing is not available: no desktop portal (xdg-desktop-portal) offers it.";
const char* const kNoPointer =
    "This desktop's screen sharing does not report the pointer, so Kestrova cannot follow it. "
    "Kestrova records Wayland desktops whose screen sharing does: GNOME and KDE Plasma.";
const char* const kNoAnswer = "The desktop's screen sharing did not answer.";
const char* const kNotStarted = "The desktop could not start screen sharing.";
const char* const kNoStream = "The desktop shared no screen.";
const char* const kEndedEarly = "Screen sharing ended before the recording began.";

// A unique name such as ":1.42" as it appears in the portal's object paths: "1_42".
QString senderPathPart(const QString& uniqueName) {
  QString part = uniqueName;
  if (part.startsWith(QLatin1Char(':'))) part.remove(0, 1);
  return part.replace(QLatin1Char('.'), QLatin1Char('_'));
}

QString newHandleToken() {
  return QStringLiteral("kestrova%1")
      .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

std::optional<std::pair<int, int>> intPair(const QVariant& value) {
  if (!value.canConvert<QDBusArgument>()) return std::nullopt;
  const QDBusArgument arg = value.value<QDBusArgument>();
  if (arg.currentType() != QDBusArgument::StructureType) return std::nullopt;
  int a = 0, b = 0;
  arg.beginStructure();
  arg >> a >> b;
  arg.endStructure();
  return std::pair{a, b};
}

struct StreamDescription {
  uint node = 0;
  QVariantMap properties;
};

// The first entry of the Start response's "streams", a(ua{sv}).
std::optional<StreamDescription> firstStream(const QVariant& streams) {
  if (!streams.canConvert<QDBusArgument>()) return std::nullopt;
  const QDBusArgument arg = streams.value<QDBusArgument>();
  if (arg.currentType() != QDBusArgument::ArrayType) return std::nullopt;
  std::optional<StreamDescription> first;
  arg.beginArray();
  while (!arg.atEnd()) {
    StreamDescription stream;
    arg.beginStructure();
    arg >> stream.node >> stream.properties;
    arg.endStructure();
    if (!first) first = stream;
  }
  arg.endArray();
  return first;
}

ScreenCastPortal::Result failure(const char* message) {
  ScreenCastPortal::Result result;
  result.outcome = ScreenCastPortal::Outcome::failed;
  result.message = message;
  return result;
}

ScreenCastPortal::Result cancellation() {
  ScreenCastPortal::Result result;
  result.outcome = ScreenCastPortal::Outcome::cancelled;
  return result;
}

}  // namespace

// Holds the conversation with the portal; lives on the portal thread, and so does every call of
// its methods. One conversation at a time: requests arriving meanwhile wait their turn.
class ScreenCastPortal::Worker : public QObject {
  Q_OBJECT

 public:
  explicit Worker(QString busAddress) : busAddress_(std::move(busAddress)) {}

  void open(QString token, Callback done) {
    queue_.push_back({std::move(token), std::move(done)});
    if (busy_) return;  // the running conversation takes it up when it ends
    busy_ = true;
    while (!queue_.empty()) {
      Pending next = std::move(queue_.front());
      queue_.pop_front();
      closeSession();
      abandoned_ = false;
      Result result = converse(next.token);
      if (result.outcome != Outcome::granted) closeSession();
      next.done(std::move(result));
    }
    busy_ = false;
  }

  void close() {
    if (busy_) {
      abandoned_ = true;
      if (!pendingRequest_.isEmpty()) callAndForget(pendingRequest_, kRequest, "Close");
      if (loop_) loop_->quit();
    }
    closeSession();
  }

  void shutDown() {
    close();
    if (connected_) {
      QDBusConnection::disconnectFromBus(connectionName_);
      connected_ = false;
    }
  }

  void setOnClosed(std::function<void()> handler) { onClosed_ = std::move(handler); }

 private slots:
  void onResponse(uint code, const QVariantMap& results, const QDBusMessage& message) {
    if (message.path() != pendingRequest_ || response_) return;
    response_ = Response{code, results};
    if (loop_) loop_->quit();
  }

  void onSessionClosed(const QVariantMap&, const QDBusMessage& message) {
    if (message.path() != sessionPath_) return;
    unsubscribeSession();
    sessionPath_.clear();
    if (busy_) {
      sessionEndedEarly_ = true;
      if (loop_) loop_->quit();
      return;
    }
    if (onClosed_) onClosed_();
  }

 private:
  struct Pending {
    QString token;
    Callback done;
  };
  struct Response {
    uint code = 2;
    QVariantMap results;
  };
  // A request's answer, or why none came.
  struct Answer {
    enum class Kind { ok, cancelled, other, error, timeout, abandoned, sessionEnded };
    Kind kind = Kind::error;
    QVariantMap results;
  };

  QDBusConnection bus() const { return QDBusConnection(connectionName_); }

  bool connect() {
    if (connected_) return true;
    connectionName_ = QStringLiteral("kestrova.portal.%1").arg(quintptr(this), 0, 16);
    QDBusConnection connection =
        busAddress_.isEmpty()
            ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_)
            : QDBusConnection::connectToBus(busAddress_, connectionName_);
    if (connection.isConnected()) return connected_ = true;
    QDBusConnection::disconnectFromBus(connectionName_);  // try again next time
    return false;
  }

  std::optional<uint> property(const char* name) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kScreenCast << QString::fromLatin1(name);
    const QDBusMessage reply = bus().call(get, QDBus::Block, int(kStepTimeout / 1ms));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
      return std::nullopt;
    const QVariant value = reply.arguments().front().value<QDBusVariant>().variant();
    bool ok = false;
    const uint number = value.toUInt(&ok);
    return ok ? std::optional(number) : std::nullopt;
  }

  Result converse(QString token) {
    if (!connect()) return failure(kNoPortal);
    const std::optional<uint> cursorModes = property("AvailableCursorModes");
    if (!cursorModes) return failure(kNoPortal);
    if (!(*cursorModes & kCursorMetadata)) return failure(kNoPointer);
    const uint version = property("version").value_or(1);
    if (version < kFirstVersionWithTokens) token.clear();

    // One retry: the token may name a choice the portal no longer honours, and the GNOME portal
    // answers the first request after a crash of its own with "other" (2).
    for (int attempt = 0;; ++attempt) {
      bool tokenFailed = false;
      Result result = attemptOnce(token, version, tokenFailed);
      if (result.outcome != Outcome::failed || attempt > 0 || abandoned_) return result;
      if (result.message == kNoAnswer) return result;  // a stuck portal stays stuck
      closeSession();
      if (tokenFailed) token.clear();
    }
  }

  // One CreateSession, SelectSources, Start, OpenPipeWireRemote. `tokenFailed` says a failure
  // came after the token was offered, so it may be to blame.
  Result attemptOnce(const QString& token, uint version, bool& tokenFailed) {
    const QString sessionToken = newHandleToken();
    Answer created = request("CreateSession", {},
                             {{QStringLiteral("session_handle_token"), sessionToken}}, true);
    if (created.kind != Answer::Kind::ok) return outcomeOf(created);
    sessionPath_ = created.results.value(QStringLiteral("session_handle")).toString();
    if (sessionPath_.isEmpty()) return failure(kNotStarted);
    subscribeSession();

    QVariantMap sourceOptions{
        {QStringLiteral("types"), kMonitorSource},
        {QStringLiteral("multiple"), false},
        {QStringLiteral("cursor_mode"), kCursorMetadata},
    };
    if (version >= kFirstVersionWithTokens) {
      sourceOptions.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
      if (!token.isEmpty()) sourceOptions.insert(QStringLiteral("restore_token"), token);
    }
    const QVariantList onSession{QVariant::fromValue(QDBusObjectPath(sessionPath_))};
    tokenFailed = !token.isEmpty();
    Answer selected = request("SelectSources", onSession, sourceOptions, true);
    if (selected.kind != Answer::Kind::ok) return outcomeOf(selected);

    Answer started = request("Start", onSession + QVariantList{QString()}, {}, false);
    if (started.kind != Answer::Kind::ok) return outcomeOf(started);
    const std::optional<StreamDescription> stream =
        firstStream(started.results.value(QStringLiteral("streams")));
    if (!stream) return failure(kNoStream);
    tokenFailed = false;

    Result result;
    result.stream.nodeId = stream->node;
    result.stream.restoreToken =
        started.results.value(QStringLiteral("restore_token")).toString().toStdString();
    if (const auto position = intPair(stream->properties.value(QStringLiteral("position"))))
      result.stream.logicalPosition = PortalStream::LogicalPoint{position->first, position->second};
    if (const auto size = intPair(stream->properties.value(QStringLiteral("size"))))
      result.stream.logicalSize = PortalStream::LogicalSize{size->first, size->second};

    QDBusMessage openRemote = QDBusMessage::createMethodCall(kService, kObjectPath, kScreenCast,
                                                             QStringLiteral("OpenPipeWireRemote"));
    openRemote << QVariant::fromValue(QDBusObjectPath(sessionPath_)) << QVariantMap{};
    const QDBusMessage reply = bus().call(openRemote, QDBus::Block, int(kStepTimeout / 1ms));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
      return failure(kNotStarted);
    const auto remote = reply.arguments().front().value<QDBusUnixFileDescriptor>();
    // QDBusUnixFileDescriptor closes its own copy; keep one of ours.
    const int fd = remote.isValid() ? ::fcntl(remote.fileDescriptor(), F_DUPFD_CLOEXEC, 3) : -1;
    if (fd < 0) return failure(kNotStarted);
    result.stream.pipeWireFd = UniqueFd(fd);
    if (sessionEndedEarly_) return failure(kEndedEarly);
    result.outcome = Outcome::granted;
    return result;
  }

  Result outcomeOf(const Answer& answer) {
    switch (answer.kind) {
      case Answer::Kind::cancelled:
      case Answer::Kind::abandoned:
        return cancellation();
      case Answer::Kind::timeout:
        return failure(kNoAnswer);
      case Answer::Kind::sessionEnded:
        return failure(kEndedEarly);
      case Answer::Kind::ok:
      case Answer::Kind::other:
      case Answer::Kind::error:
        break;
    }
    return failure(kNotStarted);
  }

  // Calls a portal method that answers through a Request object, and waits for its Response.
  // The Response signal is subscribed before the call, on the path the portal will use, so an
  // answer that comes before the call's reply is not missed.
  Answer request(const char* method, const QVariantList& leading, QVariantMap options, bool timed) {
    if (abandoned_) return {Answer::Kind::abandoned, {}};
    const QString handleToken = newHandleToken();
    options.insert(QStringLiteral("handle_token"), handleToken);
    const QString expected = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(senderPathPart(bus().baseService()), handleToken);
    subscribeRequest(expected);
    response_.reset();
    sessionEndedEarly_ = false;

    QDBusMessage call = QDBusMessage::createMethodCall(kService, kObjectPath, kScreenCast,
                                                       QString::fromLatin1(method));
    call.setArguments(leading + QVariantList{options});
    const QDBusMessage reply = bus().call(call, QDBus::Block, int(kStepTimeout / 1ms));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
      unsubscribeRequest();
      return {Answer::Kind::error, {}};
    }
    const QString actual = reply.arguments().front().value<QDBusObjectPath>().path();
    if (actual != expected) {  // portals before 0.9 chose the path themselves
      unsubscribeRequest();
      subscribeRequest(actual);
    }

    if (!response_ && !abandoned_ && !sessionEndedEarly_) {
      QEventLoop loop;
      loop_ = &loop;
      if (timed) QTimer::singleShot(kStepTimeout, &loop, &QEventLoop::quit);
      loop.exec();
      loop_ = nullptr;
    }
    unsubscribeRequest();

    if (abandoned_) return {Answer::Kind::abandoned, {}};
    if (sessionEndedEarly_) return {Answer::Kind::sessionEnded, {}};
    if (!response_) return {Answer::Kind::timeout, {}};
    switch (response_->code) {
      case 0:
        return {Answer::Kind::ok, response_->results};
      case 1:
        return {Answer::Kind::cancelled, {}};
      default:
        return {Answer::Kind::other, {}};
    }
  }

  void subscribeRequest(const QString& path) {
    pendingRequest_ = path;
    bus().connect(kService, path, kRequest, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
  }
  void unsubscribeRequest() {
    bus().disconnect(kService, pendingRequest_, kRequest, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
    pendingRequest_.clear();
  }
  void subscribeSession() {
    bus().connect(kService, sessionPath_, kSession, QStringLiteral("Closed"), this,
                  SLOT(onSessionClosed(QVariantMap, QDBusMessage)));
  }
  void unsubscribeSession() {
    bus().disconnect(kService, sessionPath_, kSession, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QVariantMap, QDBusMessage)));
  }

  void closeSession() {
    if (sessionPath_.isEmpty()) return;
    unsubscribeSession();
    callAndForget(sessionPath_, kSession, "Close");
    sessionPath_.clear();
  }

  void callAndForget(const QString& path, const QString& interface, const char* method) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, path, interface, QString::fromLatin1(method));
    bus().send(call);
  }

  const QString busAddress_;
  QString connectionName_;
  bool connected_ = false;

  std::deque<Pending> queue_;
  bool busy_ = false;
  bool abandoned_ = false;
  bool sessionEndedEarly_ = false;
  QEventLoop* loop_ = nullptr;
  QString pendingRequest_;
  std::optional<Response> response_;
  QString sessionPath_;
  std::function<void()> onClosed_;
};

struct ScreenCastPortal::Thread {
  QThread thread;
};

ScreenCastPortal::ScreenCastPortal(const std::string& busAddress)
    : thread_(std::make_unique<Thread>()), worker_(new Worker(QString::fromStdString(busAddress))) {
  thread_->thread.setObjectName(QStringLiteral("kestrova.portal"));
  worker_->moveToThread(&thread_->thread);
  QObject::connect(&thread_->thread, &QThread::finished, worker_, &QObject::deleteLater);
  thread_->thread.start();
}

ScreenCastPortal::~ScreenCastPortal() {
  QMetaObject::invokeMethod(
      worker_, [w = worker_] { w->shutDown(); }, Qt::BlockingQueuedConnection);
  thread_->thread.quit();
  thread_->thread.wait();
}

void ScreenCastPortal::openAsync(const std::string& restoreToken, Callback done) {
  QMetaObject::invokeMethod(
      worker_, [w = worker_, token = QString::fromStdString(restoreToken),
                done = std::move(done)]() mutable { w->open(std::move(token), std::move(done)); });
}

ScreenCastPortal::Result ScreenCastPortal::open(const std::string& restoreToken) {
  Q_ASSERT(QThread::currentThread() != &thread_->thread);
  std::promise<Result> answer;
  std::future<Result> result = answer.get_future();
  openAsync(restoreToken, [&answer](Result outcome) { answer.set_value(std::move(outcome)); });
  return result.get();
}

void ScreenCastPortal::close() {
  // From the portal's own callbacks too: a blocking hop to the same thread would never return.
  if (QThread::currentThread() == &thread_->thread) return worker_->close();
  QMetaObject::invokeMethod(
      worker_, [w = worker_] { w->close(); }, Qt::BlockingQueuedConnection);
}

void ScreenCastPortal::setOnClosed(std::function<void()> handler) {
  if (QThread::currentThread() == &thread_->thread) return worker_->setOnClosed(std::move(handler));
  QMetaObject::invokeMethod(
      worker_,
      [w = worker_, handler = std::move(handler)]() mutable { w->setOnClosed(std::move(handler)); },
      Qt::BlockingQueuedConnection);
}

PortalStream takeStreamOrThrow(ScreenCastPortal::Result result) {
  switch (result.outcome) {
    case ScreenCastPortal::Outcome::granted:
      return std::move(result.stream);
    case ScreenCastPortal::Outcome::cancelled:
      throw RecorderError::cancelled();
    case ScreenCastPortal::Outcome::failed:
      break;
  }
  throw PlatformError(result.message);
}

void rememberChoice(const ScreenCastPortal::Result& result, const RestoreTokenStore& store) {
  switch (result.outcome) {
    case ScreenCastPortal::Outcome::granted:
      store.save(result.stream.restoreToken);
      break;
    case ScreenCastPortal::Outcome::cancelled:
      store.save({});
      break;
    case ScreenCastPortal::Outcome::failed:
      break;
  }
}

PortalStream openRecordingStream(ScreenCastPortal& portal, const RestoreTokenStore& store) {
  ScreenCastPortal::Result result = portal.open(store.load());
  rememberChoice(result, store);
  return takeStreamOrThrow(std::move(result));
}

}  // namespace kestrova

#include "ScreenCastPortal.moc"
