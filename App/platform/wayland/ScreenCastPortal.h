#pragma once

#include <functional>
#include <memory>
#include <string>

#include "PortalStream.h"

namespace kestrova {

// A client of the desktop's screen-cast portal (org.freedesktop.portal.ScreenCast) that asks for
// one monitor stream with the pointer as metadata, remembering the user's choice with a restore
// token.
//
// Threads: the D-Bus conversation runs on a thread of its own ("kestrova.portal") with its own bus
// connection and event loop, so callers need no Qt event loop (the recorder's start runs on a
// worker thread, kestrova-record on a plain main thread). Every public method is thread-safe;
// open() must not be called from inside the callbacks (they run on the portal thread, which it
// waits for), the others may. A QCoreApplication must exist while the object lives.
//
// The connection stays up as long as the object: the GNOME portal (43) crashes when a client
// disconnects while its dialog is open, so a pending dialog is closed through its request first.
class ScreenCastPortal {
 public:
  enum class Outcome {
    granted,    // `stream` is valid; the session stays open until close() or the desktop ends it
    cancelled,  // the user dismissed the desktop's dialog (or close() was called meanwhile)
    failed,     // `message` says why, written for the user
  };
  struct Result {
    Outcome outcome = Outcome::failed;
    PortalStream stream;
    std::string message;
  };
  // Receives the outcome of open(); runs on the portal thread and should only hand it on.
  using Callback = std::function<void(Result)>;

  // `busAddress` is the D-Bus address to use; empty means the session bus.
  explicit ScreenCastPortal(const std::string& busAddress = {});
  // Closes an open session or pending dialog, then ends the portal thread.
  ~ScreenCastPortal();
  ScreenCastPortal(const ScreenCastPortal&) = delete;
  ScreenCastPortal& operator=(const ScreenCastPortal&) = delete;

  // Asks for one monitor stream (CreateSession, SelectSources, Start, OpenPipeWireRemote).
  // `restoreToken` names an earlier choice, so the desktop shows no dialog; empty shows it. A token
  // the portal refuses is dropped and the request made once more without it, which shows the
  // dialog. A portal that cannot report the pointer as metadata fails with a message saying so.
  // A session still open from an earlier call is closed first. `done` is called exactly once.
  //
  // What to store afterwards: on `granted`, stream.restoreToken (possibly empty: the portal then
  // keeps nothing); on `cancelled`, nothing (the stored token no longer spares the dialog, so drop
  // it); on `failed`, keep what was stored (the desktop may answer next time).
  void openAsync(const std::string& restoreToken, Callback done);
  // The same, waiting for the outcome (the desktop's dialog may take the user a while).
  Result open(const std::string& restoreToken);

  // Ends the open session, which stops its stream, or abandons a conversation in progress (its
  // outcome is then `cancelled`). Returns once the portal has been told. Idempotent.
  void close();

  // Called on the portal thread, at most once per granted session, when the desktop ends it
  // (its "stop sharing" control, or the monitor going away) rather than close(). The stream stops
  // then; the owner should finish the recording as if the user had stopped it. Set before open().
  void setOnClosed(std::function<void()> handler);

 private:
  class Worker;
  struct Thread;
  std::unique_ptr<Thread> thread_;
  Worker* worker_;  // lives on the portal thread, owned by it
};

// The outcome of ScreenCastPortal::open() as the engine's start reports it: the stream when
// granted; RecorderError::cancelled() when the user dismissed the dialog (no message to show);
// PlatformError with the portal's message when it failed.
PortalStream takeStreamOrThrow(ScreenCastPortal::Result result);

// Where the restore token lives between runs (the "restoreToken" preference). Both functions are
// called on the thread that uses the store.
struct RestoreTokenStore {
  std::function<std::string()> load;
  std::function<void(const std::string&)> save;  // "" forgets the token
};

// Keeps the stored token current after a request: the new one when granted; none when the dialog
// was cancelled (the stored one no longer spares it); unchanged after a failure.
void rememberChoice(const ScreenCastPortal::Result& result, const RestoreTokenStore& store);

// A recording's stream: opens with the stored token (so no dialog when it is accepted), remembers
// the outcome, and returns the stream or throws as takeStreamOrThrow() does. Blocks; call it off
// the portal thread (the recorder's start, or kestrova-record's main thread).
PortalStream openRecordingStream(ScreenCastPortal& portal, const RestoreTokenStore& store);

}  // namespace kestrova
