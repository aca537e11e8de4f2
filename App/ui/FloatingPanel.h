#pragma once

#include <QPainterPath>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <optional>

#include "DesktopDisplays.h"

class QScreen;

namespace kestrova {

// Implemented by a panel's content when its visible outline is not its whole rectangle (the
// toolbar's capsule, the countdown's disc), so the panel can shape itself where translucency is
// not available and cast its shadow along the outline.
class PanelShape {
 public:
  virtual ~PanelShape() = default;
  // In the content's own coordinates, device-independent pixels.
  virtual QPainterPath outline() const = 0;
};

// A small overlay window that floats above ordinary windows on every workspace, never takes the
// keyboard focus and never activates the program, so the application being recorded stays
// frontmost. It hosts the countdown and the recording toolbar.
//
// A click-through panel passes every click to whatever lies below; an interactive one accepts
// clicks on its controls, can be dragged by its background and casts a shadow. Where no
// compositing manager runs, the panel is cut to its content's outline (no black corners) and
// casts no shadow.
//
// Main thread only. The owner shows it with showWithoutActivating() and deletes it when done.
class FloatingPanel : public QWidget {
  Q_OBJECT

 public:
  enum class Position {
    center,  // centred on the screen's available area
    bottom,  // centred horizontally, its lower edge kBottomGap above the available area's bottom
  };
  enum class Input { clickThrough, interactive };

  static constexpr int kBottomGap = 28;
  // Room around an interactive panel's content for the shadow, when translucency is available.
  static constexpr int kShadowMargin = 14;

  // Places a panel of `size` (device-independent pixels) in `area` and takes ownership of
  // `content`, which fills it. Not shown yet. An area without a screen or a rectangle falls back
  // to the primary screen.
  FloatingPanel(const PanelArea& area, QSize size, Position position, Input input,
                QWidget* content);
  // The same on `screen`'s available area.
  FloatingPanel(QScreen* screen, QSize size, Position position, Input input, QWidget* content);

  // The top-left corner of a panel of `size` at `position` in `available` (Qt's y-down desktop
  // coordinates).
  static QPoint origin(const QRect& available, QSize size, Position position);

  // Shows the panel above other windows without activating the program or taking focus.
  void showWithoutActivating();
  // Shows the panel on its screen where the window system lets no client place a window
  // (Wayland): only a full-screen window goes to the monitor it names, so the panel covers that
  // monitor, clear and click-through but for its content, which sits where it would have.
  void showCoveringScreen();

  QWidget* content() const { return content_; }
  bool isInteractive() const { return input_ == Input::interactive; }
  // True where the panel is cut to its content's outline (no compositing manager).
  bool isShaped() const { return shaped_; }
  // The content's rectangle on the desktop, without the shadow margin.
  QRect contentGeometry() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QPainterPath contentOutline() const;
  void passClicksAroundContent();

  QWidget* content_;
  Input input_;
  Position position_;
  bool covering_ = false;  // full screen, the content inside (showCoveringScreen)
  bool shaped_ = false;
  int margin_ = 0;
  // While dragging: the pointer's position minus the panel's (the content's when covering).
  std::optional<QPoint> dragOffset_;
};

}  // namespace kestrova
