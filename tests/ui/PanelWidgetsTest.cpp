#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QTest>

#include "CountdownView.h"
#include "FloatingPanel.h"
#include "Glyphs.h"
#include "RecordingToolbar.h"
#include "Theme.h"
#include "ToolbarButtonStyle.h"

namespace kestrova {
namespace {

QImage render(QWidget& widget) {
  QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return image;
}

// Pixels of `image` whose test holds.
int count(const QImage& image, const std::function<bool(QRgb)>& test) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += test(image.pixel(x, y)) ? 1 : 0;
  return n;
}

TEST(FloatingPanel, CentresOrSitsAboveTheBottomOfTheAvailableArea) {
  using enum FloatingPanel::Position;
  const struct {
    QRect available;
    QSize size;
    FloatingPanel::Position position;
    QPoint expected;
  } cases[] = {
      {{0, 0, 1920, 1080}, {200, 200}, center, {860, 440}},
      {{0, 0, 1920, 1080}, {232, 48}, bottom, {844, 1004}},
      {{1920, 0, 1280, 984}, {232, 48}, bottom, {2444, 908}},  // a second screen, over a dock
      {{0, 27, 1280, 693}, {200, 200}, center, {540, 273}},    // below a top bar
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected.x());
    EXPECT_EQ(FloatingPanel::origin(c.available, c.size, c.position), c.expected);
  }
}

// Its window hints, its shape and where clicks go: ShellX11Test, on a real X server.
TEST(FloatingPanel, IsExactlyItsContentAndAnInteractiveOneIsDraggableByItsBackground) {
  auto* view = new CountdownView;
  const PanelArea area{nullptr, {0, 0, 1920, 1080}};
  FloatingPanel countdown(area, CountdownView::kSize, FloatingPanel::Position::center,
                          FloatingPanel::Input::clickThrough, view);
  EXPECT_TRUE(countdown.testAttribute(Qt::WA_ShowWithoutActivating));
  EXPECT_TRUE(countdown.windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_EQ(view->parentWidget(), &countdown);
  EXPECT_EQ(countdown.size(), CountdownView::kSize) << "no shadow margin around the content";
  EXPECT_EQ(countdown.contentGeometry().topLeft(), QPoint(860, 440));

  auto* toolbar = new RecordingToolbar;
  FloatingPanel panel(area, RecordingToolbar::kSize, FloatingPanel::Position::bottom,
                      FloatingPanel::Input::interactive, toolbar);
  panel.showWithoutActivating();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
  const QRect before = panel.contentGeometry();
  const QPoint background = toolbar->mapTo(&panel, QPoint(100, 24));  // between time and buttons
  const QPoint moved = background + QPoint(30, -20);
  QTest::mousePress(&panel, Qt::LeftButton, {}, background);
  QMouseEvent move(QEvent::MouseMove, QPointF(moved), QPointF(panel.mapToGlobal(moved)),
                   Qt::NoButton, Qt::LeftButton, {});
  QApplication::sendEvent(&panel, &move);
  QTest::mouseRelease(&panel, Qt::LeftButton, {}, moved);
  EXPECT_EQ(panel.contentGeometry(), before.translated(30, -20));
}

// Its clicks drive the controller (ShellTest); here, how it looks.
TEST(RecordingToolbar, LooksRecordingOrPausedAndLongerTimesNeverMoveTheButtons) {
  RecordingToolbar toolbar;
  toolbar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&toolbar));
  ToolbarButton* pause = toolbar.pauseButton();
  EXPECT_EQ(qAlpha(render(*pause).pixel(16, 4)), qRound(255 * 0.1));
  QTest::mousePress(pause, Qt::LeftButton, {}, QPoint(16, 16));
  EXPECT_EQ(qAlpha(render(*pause).pixel(16, 4)), qRound(255 * 0.25)) << "brighter while pressed";
  QTest::mouseRelease(pause, Qt::LeftButton, {}, QPoint(16, 16));
  EXPECT_EQ(toolbar.stopButton()->geometry(), QRect(184, 8, 32, 32)) << "16 from the right end";
  EXPECT_EQ(toolbar.pauseButton()->geometry(), QRect(138, 8, 32, 32));
  toolbar.setTimeText("100:00");
  QApplication::processEvents();
  EXPECT_EQ(toolbar.pauseButton()->geometry().x(), 138);
  EXPECT_EQ(toolbar.timeLabel()->width(), 56);

  const struct {
    RecordingToolbar::Look look;
    QColor dot;
    Glyph icon;
    QString tooltip;
  } cases[] = {
      {RecordingToolbar::Look::paused, theme::orange(), Glyph::play, "Resume (Ctrl+Alt+P)"},
      {RecordingToolbar::Look::recording, theme::withOpacity(theme::red(), 0.9), Glyph::pause,
       "Pause (Ctrl+Alt+P)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tooltip.toStdString());
    toolbar.setLook(c.look);
    EXPECT_EQ(toolbar.dotColor(), c.dot);
    EXPECT_EQ(toolbar.pauseButton()->glyph(), c.icon);
    EXPECT_EQ(toolbar.pauseButton()->toolTip(), c.tooltip);
    EXPECT_EQ(toolbar.stopButton()->toolTip(), "Stop (Ctrl+Alt+R)");
    EXPECT_EQ(toolbar.stopButton()->glyphColor(), theme::red());
    EXPECT_EQ(toolbar.pauseButton()->glyphColor(), QColor(Qt::white));
  }
}

TEST(PanelContents, ACapsuleAndADiscOfTranslucentBlackWithClearCorners) {
  RecordingToolbar toolbar;
  const QImage capsule = render(toolbar);
  EXPECT_EQ(qAlpha(capsule.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(capsule.pixel(231, 47)), 0);
  const QRgb fill = capsule.pixel(110, 40);  // between the label and the buttons
  EXPECT_NEAR(qAlpha(fill), 255 * 0.78, 1.5);
  EXPECT_EQ(qRed(fill), 0);

  CountdownView view;
  view.setNumber(1);
  const QImage disc = render(view);
  EXPECT_EQ(qAlpha(disc.pixel(5, 100)), 0) << "the 10-point margin is clear";
  EXPECT_EQ(qAlpha(disc.pixel(0, 0)), 0);
  EXPECT_NEAR(qAlpha(disc.pixel(15, 100)), 255 * 0.55, 1.5) << "disc edge region";
  const int white = count(disc.copy(50, 50, 100, 100), [](QRgb p) { return qRed(p) > 240; });
  EXPECT_GT(white, 300) << "the digit is drawn";
}

TEST(CountdownView, NewNumberAnimatesWithEaseOutAndTheSameNumberDoesNot) {
  CountdownView view;
  view.setNumber(3);
  EXPECT_FALSE(view.isAnimating()) << "the first number shows at once";
  view.setNumber(3);
  EXPECT_FALSE(view.isAnimating());
  view.setNumber(2);
  EXPECT_EQ(view.number(), 2);
  EXPECT_TRUE(view.isAnimating());
  EXPECT_EQ(view.transition().duration(), 250);
  view.transition().setCurrentTime(125);
  EXPECT_GT(view.transition().currentValue().toDouble(), 0.6) << "well past half-way at half time";
  view.transition().setCurrentTime(250);
  EXPECT_FALSE(view.isAnimating());
}

TEST(Glyphs, StaySharpAtHighDevicePixelRatios) {
  for (Glyph glyph : {Glyph::record, Glyph::pause, Glyph::play, Glyph::stop, Glyph::folder,
                      Glyph::warning, Glyph::check, Glyph::viewfinder}) {
    SCOPED_TRACE(static_cast<int>(glyph));
    const QPixmap pixmap = glyphIcon(glyph, Qt::black).pixmap(QSize(24, 24), 3.0);
    EXPECT_EQ(pixmap.size(), QSize(72, 72)) << "drawn at device pixels, not upscaled";
    EXPECT_DOUBLE_EQ(pixmap.devicePixelRatio(), 3.0);
    const int opaque = count(pixmap.toImage(), [](QRgb p) { return qAlpha(p) == 255; });
    EXPECT_GT(opaque, 72 * 72 / 20) << "a real shape, not an empty or faint one";
    EXPECT_LT(opaque, 72 * 72 * 3 / 4) << "fits inside its box with a margin";
  }
}

}  // namespace
}  // namespace kestrova
