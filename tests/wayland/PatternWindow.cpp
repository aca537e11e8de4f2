// A Wayland client for the lab: a full-screen window whose colour says where each pixel lies (red
// grows with x, green with y) and whose blue steps every frame, so a recording's frames tell which
// part of the screen they show and that the screen kept changing. Its pointer is a magenta square
// with the hot spot at its top-left, easy to find in a video. Prints "shown WxH" as it paints a
// new size.
//
// usage: wayland_pattern_window FPS   (0: one still picture)
#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QRasterWindow>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

class PatternWindow : public QRasterWindow {
 public:
  explicit PatternWindow(int fps) {
    QPixmap square(16, 16);
    square.fill(QColor(255, 0, 255));
    setCursor(QCursor(square, 0, 0));
    if (fps > 0) startTimer(1000 / fps);
  }

 protected:
  void timerEvent(QTimerEvent*) override {
    ++frame_;
    update();
  }

  void paintEvent(QPaintEvent*) override {
    const int w = width(), h = height();
    if (pictures_.empty() || pictures_[0].size() != size()) {
      pictures_.clear();
      for (int k = 0; k < 8; ++k) {
        QImage img(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y) {
          auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
          for (int x = 0; x < w; ++x) row[x] = qRgb(x * 255 / (w - 1), y * 255 / (h - 1), k * 8);
        }
        pictures_.push_back(std::move(img));
      }
      std::printf("shown %dx%d\n", w, h);
      std::fflush(stdout);
    }
    QPainter(this).drawImage(0, 0, pictures_[static_cast<std::size_t>(frame_ % 8)]);
  }

 private:
  std::vector<QImage> pictures_;
  int frame_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  PatternWindow window(argc > 1 ? std::atoi(argv[1]) : 30);
  window.showFullScreen();
  return app.exec();
}
