#pragma once

#include <QWidget>

class QLabel;

namespace kestrova {

class AppController;
class GlyphView;
class LinkButton;

// The foot of the settings form: the last failure in orange, or "Saved" in green with a button
// that shows the file in the file manager, or nothing. A failure hides a saved file reported at
// the same time. Main thread only; the controller must outlive it.
class StatusArea : public QWidget {
  Q_OBJECT

 public:
  enum class Shows { nothing, message, saved };

  explicit StatusArea(AppController& controller, QWidget* parent = nullptr);

  Shows shows() const { return shows_; }
  QLabel* messageLabel() const { return message_; }
  QLabel* savedLabel() const { return saved_; }
  LinkButton* showInFolderButton() const { return reveal_; }

 private:
  void refresh();

  AppController& controller_;
  Shows shows_ = Shows::nothing;
  QWidget* messageRow_;
  QLabel* message_;
  QWidget* savedRow_;
  QLabel* saved_;
  LinkButton* reveal_;
};

}  // namespace kestrova
