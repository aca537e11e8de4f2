# `make package`: a Debian package of what `cmake --install` puts in place.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrova)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Kestrova developers")
set(CPACK_PACKAGE_CONTACT "The Kestrova developers <kestrova@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screen recorder whose camera follows the mouse pointer")
set(CPACK_PACKAGE_DESCRIPTION
  "Kestrova records a window of fixed size (1280x720, 1920x1080 or a size of
your own) that glides over one display after the mouse pointer, with a dead
zone that ignores small movements and an easing you can set. Clicks show as a
white ring, paused time is cut out, and the program's own windows never appear
in the video. Every recording becomes one MP4 file (H.264, no audio).
.
It records X11 desktop sessions, and can be controlled from the command line
(kestrova --toggle) to bind recording to a key of the desktop's settings.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Stripped in the package: the debug information stays in the build tree.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/kestrova/kestrova")
# Dependencies come from the libraries the program really links (dpkg-shlibdeps), not a list.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
