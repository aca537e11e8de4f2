#pragma once

#include <QMainWindow>

class QAction;

namespace kestrova {

class AppController;
class MainView;

// The program's one regular window, titled "Kestrova", as large as its content and no larger,
// with the "Record" menu. Closing it quits the program only while nothing is being recorded;
// during a countdown or a recording the window just closes and the recording goes on, driven from
// the toolbar and the hot keys (and comes back when the recording ends).
//
// Main thread only; the controller must outlive it.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(AppController& controller, QWidget* parent = nullptr);

  MainView* view() const { return view_; }
  // The "Record" menu's items: start/stop, and pause/resume.
  QAction* startStopAction() const { return startStop_; }
  QAction* pauseAction() const { return pause_; }

  // Whether closing the window now should end the program.
  bool closingQuits() const;

  // Without global keys the menu names no keys (they would only work inside the window) and the
  // form says how to bind the command line instead.
  void showGlobalKeys(bool available);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void followState();

  AppController& controller_;
  MainView* view_;
  QAction* startStop_;
  QAction* pause_;
};

}  // namespace kestrova
