#include "support/XvfbServer.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace kestrova::testing {
namespace {

TEST(XvfbServer, StartsAPrivateDisplayOfTheAskedSizeAndStopsIt) {
  std::string name;
  {
    XvfbServer x(800, 600);
    name = x.display();
    int screen = 0;
    xcb_connection_t* c = xcb_connect(name.c_str(), &screen);
    ASSERT_FALSE(xcb_connection_has_error(c));
    const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    EXPECT_EQ(s->width_in_pixels, 800);
    EXPECT_EQ(s->height_in_pixels, 600);
    xcb_disconnect(c);
  }
  xcb_connection_t* c = xcb_connect(name.c_str(), nullptr);
  EXPECT_TRUE(xcb_connection_has_error(c));
  xcb_disconnect(c);
}

}  // namespace
}  // namespace kestrova::testing
