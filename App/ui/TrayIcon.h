#pragma once

#include <QObject>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace kestrova {

class AppController;

// The recording in the desktop's tray (a StatusNotifierItem, or the X11 tray), for desktops where
// the toolbar cannot stay out of the video: the state in its icon, the elapsed time in its
// tooltip, Pause/Resume and Stop in its menu. It shows from the countdown until the recording
// ends, and only where the desktop has a tray (plain GNOME needs an extension for one).
//
// Main thread only. The controller must outlive it.
class TrayIcon final : public QObject {
  Q_OBJECT

 public:
  explicit TrayIcon(AppController& controller, QObject* parent = nullptr);
  ~TrayIcon() override;

  QSystemTrayIcon* icon() const { return icon_; }
  QAction* pauseAction() const { return pause_; }
  QAction* stopAction() const { return stop_; }
  QString toolTip() const;

 private:
  void follow();

  AppController& controller_;
  QMenu* menu_;
  QSystemTrayIcon* icon_;
  QAction* pause_;
  QAction* stop_;
};

}  // namespace kestrova
