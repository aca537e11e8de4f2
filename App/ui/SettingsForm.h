#pragma once

#include <QWidget>

#include <cstdint>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;
class QVBoxLayout;

namespace kestrova {

class AppController;
class DisclosureGroup;
class ElidedLabel;
class ProminentButton;
class SegmentedControl;
class StatusArea;

// The main window's settings form: output size, frame rate, display, how the capture follows the
// pointer, the click indicator, the output folder, the start button and the status area. Every
// control writes its preference as soon as the user changes it; the form keeps no settings of its
// own but whether the "Cursor following" group is open (not saved, starts closed).
//
// Main thread only. The controller must outlive the form.
class SettingsForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMargin = 22;
  static constexpr int kSpacing = 18;
  static constexpr int kRowTitleWidth = 78;
  static constexpr int kSliderTitleWidth = 90;
  static constexpr int kNumberFieldWidth = 70;
  static constexpr int kStartButtonHeight = 34;

  explicit SettingsForm(AppController& controller, QWidget* parent = nullptr);

  // Shows the stored preferences again (after something other than the form changed them).
  void reload();

  // Where the session has no global keys, the start button's key hint goes and a line says how
  // to bind the command line in the desktop's keyboard settings instead.
  void showGlobalKeys(bool available);

  // The parts, for tests.
  SegmentedControl* sizePicker() const { return sizePicker_; }
  QWidget* customSizeRow() const { return customRow_; }
  QLineEdit* widthField() const { return widthField_; }
  QLineEdit* heightField() const { return heightField_; }
  SegmentedControl* fpsPicker() const { return fpsPicker_; }
  QWidget* displayRow() const { return displayRow_; }
  QComboBox* displayPicker() const { return displayPicker_; }
  DisclosureGroup* trackingGroup() const { return tracking_; }
  QSlider* smoothnessSlider() const { return smoothness_; }
  QSlider* deadZoneSlider() const { return deadZone_; }
  QCheckBox* clicksToggle() const { return clicks_; }
  QLabel* clicksNote() const { return clicksNote_; }
  QWidget* folderRow() const { return folderRow_; }
  ElidedLabel* folderName() const { return folderName_; }
  QAbstractButton* changeFolderButton() const { return changeFolder_; }
  ProminentButton* startButton() const { return start_; }
  QWidget* startKeyHint() const { return startKeyHint_; }
  QWidget* bindKeysHint() const { return bindKeysHint_; }
  StatusArea* status() const { return status_; }

 private:
  QWidget* titledRow(const QString& title, QWidget* control);
  QWidget* sliderRow(const QString& title, QSlider* slider);
  void buildCustomSizeRow();
  void rebuildDisplays();
  void storeCustomSize(QLineEdit* field, const char* key);
  void showCustomSize(QLineEdit* field, const char* key);
  void reloadFolder();
  void followState();

  AppController& controller_;
  bool reloading_ = false;  // set while controls are filled from the preferences

  SegmentedControl* sizePicker_ = nullptr;
  QWidget* customRow_ = nullptr;
  QLineEdit* widthField_ = nullptr;
  QLineEdit* heightField_ = nullptr;
  SegmentedControl* fpsPicker_ = nullptr;
  QWidget* displayRow_ = nullptr;
  QComboBox* displayPicker_ = nullptr;
  DisclosureGroup* tracking_ = nullptr;
  QSlider* smoothness_ = nullptr;
  QSlider* deadZone_ = nullptr;
  QCheckBox* clicks_ = nullptr;
  QLabel* clicksNote_ = nullptr;
  QWidget* folderRow_ = nullptr;
  ElidedLabel* folderName_ = nullptr;
  QAbstractButton* changeFolder_ = nullptr;
  ProminentButton* start_ = nullptr;
  QWidget* startKeyHint_ = nullptr;
  QWidget* bindKeysHint_ = nullptr;
  StatusArea* status_ = nullptr;
};

}  // namespace kestrova
