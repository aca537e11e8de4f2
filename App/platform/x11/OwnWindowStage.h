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
// Lives on the thread that fetches pixels; `conn` must outlive it and is used by nothing else
// concurrently. Costs two round trips per frame while none of our windows meets the region, plus
// up to three for top-level windows that carry no PID anywhere (asked again each frame, as a
// window manager may fill its frame later).
class OwnWindowStage final : public FrameStage {
 public:
  // Redirects the root's subwindows (automatically: the screen looks the same) so that every
  // top-level window keeps its contents in a pixmap. Without Composite our windows are painted
  // over with the root background instead, never left in the frame.
  OwnWindowStage(xcb_connection_t* conn, xcb_window_t root, std::uint32_t pid);

  void prepare() override;
  void apply(RegionFrame& frame) override;

 private:
  // How far down a top-level window a PID is looked for: a window manager's frame, a wrapper.
  static constexpr int kMaxFrameDepth = 2;

  enum class Owner { ours, foreign };
  struct TopLevel {
    xcb_window_t id;
    bool ours;
    bool viewable = false;
    RootRect rect;
  };

  // Which of `children` (bottom to top) are ours, learning the ones not seen before.
  std::vector<TopLevel> classify(const std::vector<xcb_window_t>& children);
  // Fills in whether each window is viewable and where it is.
  void locate(std::vector<TopLevel*>& windows);
  void paintBackground(RegionFrame& frame, const RootRect& area);
  void paintWindow(RegionFrame& frame, const TopLevel& window, const RootRect& area);

  xcb_connection_t* conn_;
  xcb_window_t root_;
  std::uint32_t pid_;
  std::uint32_t clientMask_;  // the bits of an XID that tell which client made it
  xcb_atom_t pidAtom_ = XCB_NONE;
  xcb_atom_t rootPixmapAtom_ = XCB_NONE;
  bool composite_ = false;
  std::optional<xcb_query_tree_cookie_t> asked_;

  std::unordered_map<xcb_window_t, Owner> known_;  // decided top-level windows
  std::unordered_set<std::uint32_t> ownClients_;   // client bits of windows known to be ours
};

}  // namespace kestrova::x11
