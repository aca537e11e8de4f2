#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "FrameStage.h"

namespace kestrova::x11 {

// Keeps this program's own windows out of every frame: where one of them lies over the region,
// the region is painted again from what lies beneath it: the root background, then every other
// window in stacking order, read from the pixmaps the Composite extension keeps for them.
//
// A top-level window is ours when it, or a window up to two levels inside it (a window manager's
// frame holds the client there, sometimes inside a wrapper), carries _NET_WM_PID equal to `pid`,
// or when it was made by an X client that made such a window (which catches our override-redirect
// popups that carry no PID).
//
// The stacking, places and map states of the top-level windows are learnt once and then kept
// from the root's structure events, so a frame costs no round trip while none of our windows
// meets it. Windows are asked about their owner when they appear; those with no PID anywhere are
// asked again after the next structure change (a window manager may fill its frame later).
//
// Lives on the thread that fetches pixels; `conn` must outlive it and is used by nothing else
// concurrently.
class OwnWindowStage final : public FrameStage {
 public:
  // Without Composite our windows are painted over with the root background instead, never left
  // in the frame.
  // The server ends the redirection with the connection.
  OwnWindowStage(xcb_connection_t* conn, xcb_window_t root, std::uint32_t pid);

  void handle(const xcb_generic_event_t& event) override;
  void apply(RegionFrame& frame) override;

 private:
  // How far down a top-level window a PID is looked for: a window manager's frame, a wrapper.
  static constexpr int kMaxFrameDepth = 2;

  enum class Owner { ours, foreign };
  struct TopLevel {
    xcb_window_t id;
    bool mapped = false;
    RootRect rect;
  };

  // Learns the owners of the top-level windows not decided yet.
  void classify();
  // Redirection makes the server draw every top-level window off screen and copy it back, so it
  // is asked for only while a window of ours exists, mapped or not: the pixmaps of the windows
  // below are made from the screen at that moment, so they must exist before ours is mapped.
  void updateRedirection();
  bool isOurs(xcb_window_t w) const;
  std::vector<TopLevel>::iterator find(xcb_window_t w);
  // Moves `w` just above `sibling`, or to the bottom when `sibling` is none.
  void restack(xcb_window_t w, xcb_window_t sibling);
  void paintBackground(RegionFrame& frame, const RootRect& area);
  void paintWindow(RegionFrame& frame, const TopLevel& window, const RootRect& area);

  xcb_connection_t* conn_;
  xcb_window_t root_;
  std::uint32_t pid_;
  std::uint32_t clientMask_;  // the bits of an XID that tell which client made it
  xcb_atom_t pidAtom_ = XCB_NONE;
  xcb_atom_t rootPixmapAtom_ = XCB_NONE;
  std::optional<xcb_pixmap_t> rootPixmap_;  // asked again when the root's property changes
  bool composite_ = false;
  bool redirected_ = false;

  std::vector<TopLevel> stack_;                    // the root's children, bottom to top
  bool structureChanged_ = true;                   // undecided windows may have become decidable
  std::unordered_map<xcb_window_t, Owner> known_;  // decided top-level windows
  std::unordered_set<std::uint32_t> ownClients_;   // client bits of windows known to be ours
};

}  // namespace kestrova::x11
