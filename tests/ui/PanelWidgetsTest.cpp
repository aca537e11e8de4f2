#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
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

TEST(FloatingPanelOrigin, CentresOrSitsAboveTheBottomOfTheAvailableArea) {
  struct Case {
    const char* name;
    QRect available;
    QSize size;
    FloatingPanel::Position position;
    QPoint expected;
  };
  const Case cases[] = {
      {"countdown on 1920x1080",
       {0, 0, 1920, 1080},
       {200, 200},
       FloatingPanel::Position::center,
       {860, 440}},
      {"toolbar on 1920x1080",
       {0, 0, 1920, 1080},
       {232, 48},
       FloatingPanel::Position::bottom,
       {844, 1004}},
      // A second screen to the right with a 40-pixel dock along its bottom.
      {"toolbar above a dock",
       {1920, 0, 1280, 984},
       {232, 48},
       FloatingPanel::Position::bottom,
       {2444, 908}},
      {"countdown below a top bar",
       {0, 27, 1280, 693},
       {200, 200},
       FloatingPanel::Position::center,
       {540, 273}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FloatingPanel::origin(c.available, c.size, c.position), c.expected);
  }
}

TEST(FloatingPanel, ClickThroughPanelNeverTakesInputOrFocus) {
  auto* view = new CountdownView;
  FloatingPanel panel(QGuiApplication::primaryScreen(), CountdownView::kSize,
                      FloatingPanel::Position::center, FloatingPanel::Input::clickThrough, view);
  const Qt::WindowFlags flags = panel.windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowTransparentForInput));
  EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
  EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(panel.testAttribute(Qt::WA_ShowWithoutActivating));
  EXPECT_FALSE(panel.isInteractive());
  EXPECT_EQ(panel.content(), view);
  EXPECT_EQ(view->parentWidget(), &panel);
  // No shadow margin: the window is exactly the content.
  EXPECT_EQ(panel.size(), CountdownView::kSize);
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(
      panel.contentGeometry().topLeft(),
      FloatingPanel::origin(available, CountdownView::kSize, FloatingPanel::Position::center));
}

TEST(FloatingPanel, InteractivePanelIsDraggableByItsBackground) {
  auto* toolbar = new RecordingToolbar;
  FloatingPanel panel(QGuiApplication::primaryScreen(), RecordingToolbar::kSize,
                      FloatingPanel::Position::bottom, FloatingPanel::Input::interactive, toolbar);
  EXPECT_FALSE(panel.windowFlags().testFlag(Qt::WindowTransparentForInput));
  EXPECT_TRUE(panel.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
  panel.showWithoutActivating();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
  const QRect before = panel.contentGeometry();
  const QPoint background = toolbar->mapTo(&panel, QPoint(100, 24));  // between time and buttons
  QTest::mousePress(&panel, Qt::LeftButton, {}, background);
  QMouseEvent move(QEvent::MouseMove, QPointF(background + QPoint(30, -20)),
                   QPointF(panel.mapToGlobal(background + QPoint(30, -20))), Qt::NoButton,
                   Qt::LeftButton, {});
  QApplication::sendEvent(&panel, &move);
  QTest::mouseRelease(&panel, Qt::LeftButton, {}, background + QPoint(30, -20));
  EXPECT_EQ(panel.contentGeometry().topLeft(), before.topLeft() + QPoint(30, -20));
  EXPECT_EQ(panel.contentGeometry().size(), RecordingToolbar::kSize);
}

TEST(RecordingToolbar, LaysOutItsChildrenAtTheirFixedSizes) {
  RecordingToolbar toolbar;
  toolbar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&toolbar));
  EXPECT_EQ(toolbar.size(), QSize(232, 48));
  EXPECT_EQ(toolbar.statusDot()->geometry(), QRect(16, 19, 9, 9));
  EXPECT_EQ(toolbar.timeLabel()->geometry().x(), 16 + 9 + 14);
  EXPECT_EQ(toolbar.timeLabel()->width(), 56);
  // The buttons sit at the right end: 232 - 16 - 32 = 184, and 14 to the left of it.
  EXPECT_EQ(toolbar.stopButton()->geometry(), QRect(184, 8, 32, 32));
  EXPECT_EQ(toolbar.pauseButton()->geometry(), QRect(184 - 14 - 32, 8, 32, 32));

  // Wider digits never move the buttons.
  toolbar.setTimeText("100:00");
  QApplication::processEvents();
  EXPECT_EQ(toolbar.pauseButton()->geometry().x(), 138);
  EXPECT_EQ(toolbar.timeLabel()->width(), 56);
}

TEST(RecordingToolbar, PausedLookSwapsDotIconAndTooltip) {
  RecordingToolbar toolbar;
  struct Case {
    RecordingToolbar::Look look;
    QColor dot;
    Glyph icon;
    QString tooltip;
  };
  const Case cases[] = {
      {RecordingToolbar::Look::paused, theme::orange(), Glyph::play, "Resume (Ctrl+Alt+P)"},
      {RecordingToolbar::Look::recording, theme::withOpacity(theme::red(), 0.9), Glyph::pause,
       "Pause (Ctrl+Alt+P)"},
  };
  for (const Case& c : cases) {
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

TEST(RecordingToolbar, ButtonsReportClicksAndBrightenWhilePressed) {
  RecordingToolbar toolbar;
  toolbar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&toolbar));
  QSignalSpy pauses(&toolbar, &RecordingToolbar::pauseClicked);
  QSignalSpy stops(&toolbar, &RecordingToolbar::stopClicked);

  ToolbarButton* pause = toolbar.pauseButton();
  const QPoint centre(16, 16);
  const QRgb resting = render(*pause).pixel(centre.x(), 4);
  QTest::mousePress(pause, Qt::LeftButton, {}, centre);
  const QRgb pressed = render(*pause).pixel(centre.x(), 4);
  QTest::mouseRelease(pause, Qt::LeftButton, {}, centre);
  EXPECT_EQ(qAlpha(resting), qRound(255 * 0.1));
  EXPECT_EQ(qAlpha(pressed), qRound(255 * 0.25));

  QTest::mouseClick(toolbar.stopButton(), Qt::LeftButton);
  EXPECT_EQ(pauses.count(), 1);
  EXPECT_EQ(stops.count(), 1);
}

TEST(RecordingToolbar, CapsuleIsTranslucentBlackWithCornersLeftClear) {
  RecordingToolbar toolbar;
  const QImage image = render(toolbar);
  EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);  // outside the capsule
  EXPECT_EQ(qAlpha(image.pixel(231, 47)), 0);
  const QRgb fill = image.pixel(110, 40);  // between the label and the buttons
  EXPECT_NEAR(qAlpha(fill), 255 * 0.78, 1.5);
  EXPECT_EQ(qRed(fill), 0);
}

TEST(CountdownView, NewNumberAnimatesAndTheSameNumberDoesNot) {
  CountdownView view;
  view.setNumber(3);
  EXPECT_EQ(view.number(), 3);
  EXPECT_FALSE(view.isAnimating()) << "the first number shows at once";
  view.setNumber(3);
  EXPECT_FALSE(view.isAnimating());
  view.setNumber(2);
  EXPECT_EQ(view.number(), 2);
  EXPECT_TRUE(view.isAnimating());
  EXPECT_EQ(view.transition().duration(), 250);
  // Ease-out: well past the middle of the way at half the time.
  view.transition().setCurrentTime(125);
  EXPECT_GT(view.transition().currentValue().toDouble(), 0.6);
  view.transition().setCurrentTime(250);
  EXPECT_FALSE(view.isAnimating());
}

TEST(CountdownView, DrawsAWhiteNumberOnATranslucentDiscWithAClearMargin) {
  CountdownView view;
  view.setNumber(1);
  const QImage image = render(view);
  EXPECT_EQ(qAlpha(image.pixel(5, 100)), 0) << "the 10-point margin is clear";
  EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
  EXPECT_NEAR(qAlpha(image.pixel(15, 100)), 255 * 0.55, 1.5) << "disc edge region";
  int white = 0;
  for (int y = 50; y < 150; ++y) {
    for (int x = 50; x < 150; ++x) white += qRed(image.pixel(x, y)) > 240 ? 1 : 0;
  }
  EXPECT_GT(white, 300) << "the digit is drawn";
}

TEST(Glyphs, StaySharpAtHighDevicePixelRatios) {
  for (Glyph glyph : {Glyph::record, Glyph::pause, Glyph::play, Glyph::stop, Glyph::folder,
                      Glyph::warning, Glyph::check, Glyph::viewfinder}) {
    SCOPED_TRACE(static_cast<int>(glyph));
    const QIcon icon = glyphIcon(glyph, Qt::black);
    const QPixmap pixmap = icon.pixmap(QSize(24, 24), 3.0);
    EXPECT_EQ(pixmap.size(), QSize(72, 72)) << "drawn at device pixels, not upscaled";
    EXPECT_DOUBLE_EQ(pixmap.devicePixelRatio(), 3.0);
    const QImage image = pixmap.toImage();
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) opaque += qAlpha(image.pixel(x, y)) == 255 ? 1 : 0;
    }
    EXPECT_GT(opaque, 72 * 72 / 20) << "a real shape, not an empty or faint one";
    EXPECT_LT(opaque, 72 * 72 * 3 / 4) << "fits inside its box with a margin";
  }
}

}  // namespace
}  // namespace kestrova
