#pragma once

class QWidget;

namespace kestrova::x11hints {

// Whether top-level windows can have translucent pixels: true when a compositing manager owns
// the _NET_WM_CM_Sn selection of any X screen, and on platforms other than X11 (which composite
// themselves). Without one, translucent pixels come out black, so panels are shaped instead.
// Main thread.
bool translucencyAvailable();

// Asks the window manager to keep `window` on every workspace and out of task bars and pagers.
// Call before the window is first shown (the hints are read when it is mapped); creates the native
// window. Does nothing off X11. Main thread.
void stickToAllWorkspaces(QWidget& window);

}  // namespace kestrova::x11hints
