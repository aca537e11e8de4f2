#include "support/XvfbServer.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace kestrova::testing {
namespace {

TEST(XvfbServer, StartsAPrivateDisplayOfTheAskedSizeAndStopsIt) {
  xcb_connection_t* c = nullptr;
  {
    XvfbServer x(800, 600);
    c = xcb_connect(x.display().c_str(), nullptr);
    ASSERT_FALSE(xcb_connection_has_error(c));
    const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    EXPECT_EQ(s->width_in_pixels, 800);
    EXPECT_EQ(s->height_in_pixels, 600);
  }
  // The display number may already serve another test's server, so ask the old connection.
  std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  EXPECT_TRUE(xcb_connection_has_error(c));
  xcb_disconnect(c);
}

}  // namespace
}  // namespace kestrova::testing
