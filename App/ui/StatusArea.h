#pragma once

#include <QWidget>

class QLabel;

namespace kestrova {

class AppController;
class GlyphView;
class LinkButton;

// The foot of the settings form: "Saving…" while a file takes a moment to finish, the last failure
// in orange, or "Saved" in green with a button that shows the file in the file manager, or nothing.
// A failure hides a saved file reported at the same time. Main thread only; the controller must
// outlive it.
class StatusArea : public QWidget {
  Q_OBJECT

 public:
  enum class Shows { nothing, saving, message, saved };

  explicit StatusArea(AppController& controller, QWidget* parent = nullptr);

  Shows shows() const { return shows_; }
  QLabel* messageLabel() const { return message_; }
  QLabel* savedLabel() const { return saved_; }
  QLabel* savingLabel() const { return saving_; }
  LinkButton* showInFolderButton() const { return reveal_; }

 private:
  void refresh();

  AppController& controller_;
  Shows shows_ = Shows::nothing;
  QLabel* saving_;
  QWidget* messageRow_;
  QLabel* message_;
  QWidget* savedRow_;
  QLabel* saved_;
  LinkButton* reveal_;
};

}  // namespace kestrova
