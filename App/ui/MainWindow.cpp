#include "MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLayout>
#include <QMenuBar>
#include <QTimer>

#include "AppController.h"
#include "MainView.h"
#include "SettingsForm.h"
#include "Theme.h"

namespace kestrova {

MainWindow::MainWindow(AppController& controller, QWidget* parent)
    : QMainWindow(parent), controller_(controller), view_(new MainView(controller, this)) {
  setWindowTitle(QStringLiteral("Kestrova"));
  setCentralWidget(view_);
  // The window follows its content's size and cannot be resized beyond it.
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  QMenu* record = menuBar()->addMenu(QStringLiteral("Record"));
  startStop_ = record->addAction(QStringLiteral("Start Recording"));
  startStop_->setShortcut(theme::startStopKeys());
  pause_ = record->addAction(QStringLiteral("Pause"));
  pause_->setShortcut(theme::pauseKeys());
  // The state is read when the item is chosen, not when the menu was last drawn.
  connect(startStop_, &QAction::triggered, this, [this] { controller_.startOrStop(); });
  connect(pause_, &QAction::triggered, this, [this] { controller_.togglePause(); });
  connect(&controller_, &AppController::stateChanged, this, &MainWindow::followState);
  followState();
}

void MainWindow::showGlobalKeys(bool available) {
  startStop_->setShortcut(available ? theme::startStopKeys() : QKeySequence());
  pause_->setShortcut(available ? theme::pauseKeys() : QKeySequence());
  view_->form()->showGlobalKeys(available);
}

bool MainWindow::closingQuits() const {
  return controller_.state().isIdle();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  if (closingQuits()) {
    // After the close has finished, so the window goes first.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
  }
}

void MainWindow::followState() {
  const RecordingState state = controller_.state();
  startStop_->setText(state.isIdle() ? QStringLiteral("Start Recording")
                                     : QStringLiteral("Stop Recording"));
  pause_->setText(state.phase() == RecordingState::Phase::paused ? QStringLiteral("Resume")
                                                                 : QStringLiteral("Pause"));
  pause_->setEnabled(state.isActive());
}

}  // namespace kestrova
