#include "SettingsForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "AppController.h"
#include "FormControls.h"
#include "Prefs.h"
#include "StatusArea.h"
#include "Theme.h"

namespace kestrova {
namespace {

constexpr int kRowSpacing = 8;
constexpr int kSliderSteps = 1000;  // a continuous slider in Qt's integer steps

constexpr double kSmoothingMax = 1.0;
constexpr double kDeadZoneMax = 0.6;

QLocale numberLocale() {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  return locale;
}

QString lastPathComponent(const QString& path) {
  const QString clean = QDir::cleanPath(path);
  const QString name = QFileInfo(clean).fileName();
  return name.isEmpty() ? clean : name;
}

void setSliderValue(QSlider* slider, double value, double max) {
  slider->setValue(static_cast<int>(std::lround(std::clamp(value / max, 0.0, 1.0) * kSliderSteps)));
}

double sliderValue(const QSlider* slider, double max) {
  return static_cast<double>(slider->value()) / kSliderSteps * max;
}

}  // namespace

SettingsForm::SettingsForm(AppController& controller, QWidget* parent)
    : QWidget(parent), controller_(controller) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  column->setSpacing(kSpacing);

  // 1. Header.
  auto* header = new QHBoxLayout;
  header->setSpacing(10);
  header->addWidget(new GlyphView(Glyph::viewfinder, 26, theme::red(), this));
  auto* title = new QLabel(QStringLiteral("Kestrova"), this);
  title->setFont(theme::font(20, QFont::DemiBold));
  header->addWidget(title);
  header->addStretch(1);
  column->addLayout(header);

  // 2. Size.
  sizePicker_ =
      new SegmentedControl({{QStringLiteral("720p"), QString::fromLatin1(Prefs::k720p)},
                            {QStringLiteral("1080p"), QString::fromLatin1(Prefs::k1080p)},
                            {QStringLiteral("Custom"), QString::fromLatin1(Prefs::kCustom)}},
                           this);
  column->addWidget(titledRow(QStringLiteral("Size"), sizePicker_));
  connect(sizePicker_, &SegmentedControl::picked, this, [this](const QVariant& value) {
    Prefs::set(Prefs::kPreset, value.toString());
    reload();
  });

  // 3. Custom size, only for "custom".
  buildCustomSizeRow();
  column->addWidget(customRow_);

  // 4. Frame rate.
  fpsPicker_ = new SegmentedControl(
      {{QStringLiteral("30 fps"), qint64{30}}, {QStringLiteral("60 fps"), qint64{60}}}, this);
  column->addWidget(titledRow(QStringLiteral("Frame rate"), fpsPicker_));
  connect(fpsPicker_, &SegmentedControl::picked, this,
          [](const QVariant& value) { Prefs::set(Prefs::kFps, value.toLongLong()); });

  // 5. Display, only with two or more screens; on a portal, the screen chosen in its dialog.
  displayPicker_ = new QComboBox(this);
  displayPicker_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  displayPicker_->setMinimumContentsLength(8);
  displayPicker_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  displayRow_ = titledRow(QStringLiteral("Display"), displayPicker_);
  column->addWidget(displayRow_);
  connect(displayPicker_, &QComboBox::activated, this, [this](int index) {
    if (controller_.captureGrant() == DesktopServices::CaptureGrant::portal) {
      displayPicker_->setCurrentIndex(0);
      if (index == 1) controller_.changeScreen();
      return;
    }
    Prefs::set(Prefs::kDisplayID, displayPicker_->itemData(index).toLongLong());
  });
  connect(qGuiApp, &QGuiApplication::screenAdded, this, &SettingsForm::rebuildDisplays);
  connect(qGuiApp, &QGuiApplication::screenRemoved, this, &SettingsForm::rebuildDisplays);

  // 6. Cursor following.
  auto* trackingContent = new QWidget(this);
  auto* trackingColumn = new QVBoxLayout(trackingContent);
  trackingColumn->setContentsMargins(0, 10, 0, 0);
  trackingColumn->setSpacing(10);
  smoothness_ = new QSlider(Qt::Horizontal, trackingContent);
  deadZone_ = new QSlider(Qt::Horizontal, trackingContent);
  trackingColumn->addWidget(sliderRow(QStringLiteral("Smoothness"), smoothness_));
  trackingColumn->addWidget(sliderRow(QStringLiteral("Dead zone"), deadZone_));
  clicks_ = new QCheckBox(QStringLiteral("Click indicator"), trackingContent);
  trackingColumn->addWidget(clicks_);
  clicksNote_ = secondaryLabel({}, trackingContent);
  clicksNote_->setFont(theme::font(theme::kCaptionSize));
  clicksNote_->setWordWrap(true);
  clicksNote_->setTextInteractionFlags(Qt::TextSelectableByMouse);  // the command, to copy
  trackingColumn->addWidget(clicksNote_);
  tracking_ = new DisclosureGroup(QStringLiteral("Cursor following"), trackingContent, this);
  column->addWidget(tracking_);
  connect(smoothness_, &QSlider::valueChanged, this, [this] {
    if (!reloading_) Prefs::set(Prefs::kSmoothing, sliderValue(smoothness_, kSmoothingMax));
  });
  connect(deadZone_, &QSlider::valueChanged, this, [this] {
    if (!reloading_) Prefs::set(Prefs::kDeadZone, sliderValue(deadZone_, kDeadZoneMax));
  });
  connect(clicks_, &QCheckBox::toggled, this, [this](bool on) {
    if (!reloading_) Prefs::set(Prefs::kClicks, on);
  });

  // 7. Divider.
  auto* divider = new QFrame(this);
  divider->setFrameShape(QFrame::HLine);
  divider->setFrameShadow(QFrame::Sunken);
  column->addWidget(divider);

  // 8. Output folder.
  folderRow_ = new QWidget(this);
  auto* folder = new QHBoxLayout(folderRow_);
  folder->setContentsMargins(0, 0, 0, 0);
  folder->setSpacing(kRowSpacing);
  folder->addWidget(new GlyphView(Glyph::folder, 16, folderRow_));
  folderName_ = new ElidedLabel(folderRow_);
  folder->addWidget(folderName_, 1);
  auto* change = new QPushButton(QStringLiteral("Change…"), folderRow_);
  change->setFont(theme::font(theme::kCaptionSize));
  change->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  changeFolder_ = change;
  folder->addWidget(change);
  column->addWidget(folderRow_);
  connect(change, &QPushButton::clicked, this, [this] {
    controller_.chooseFolder();
    reloadFolder();
  });

  // 9. Start button.
  start_ = new ProminentButton(theme::red(), kStartButtonHeight, this);
  QHBoxLayout* label = start_->contentLayout();
  label->addStretch(1);
  auto* startGlyph = new GlyphView(Glyph::record, 16, Qt::white, start_);
  label->addWidget(startGlyph);
  auto* startText = new QLabel(QStringLiteral("Start Recording"), start_);
  startText->setFont(theme::font(14, QFont::DemiBold));
  label->addWidget(startText);
  auto* hint = new QLabel(theme::nativeText(theme::startStopKeys()), start_);
  hint->setFont(theme::font(11));
  QPalette hintPalette = hint->palette();
  hintPalette.setColor(QPalette::WindowText, theme::withOpacity(Qt::white, 0.7));
  hint->setPalette(hintPalette);
  label->addWidget(hint);
  label->addStretch(1);
  for (QWidget* child : {static_cast<QWidget*>(startGlyph), static_cast<QWidget*>(startText),
                         static_cast<QWidget*>(hint)}) {
    child->setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  column->addWidget(start_);
  connect(start_, &QAbstractButton::clicked, this, [this] { controller_.begin(); });
  startKeyHint_ = hint;
  auto* bindKeys = secondaryLabel(
      QStringLiteral("This desktop offers no global keys: to start and stop from a key, bind "
                     "<code>kestrova --toggle</code> (and <code>kestrova --pause</code>) in its "
                     "keyboard settings."),
      this);
  bindKeys->setTextFormat(Qt::RichText);
  bindKeys->setWordWrap(true);
  bindKeys->setVisible(false);
  bindKeysHint_ = bindKeys;
  column->addWidget(bindKeys);

  // 10. Status.
  status_ = new StatusArea(controller_, this);
  column->addWidget(status_);

  connect(&controller_, &AppController::stateChanged, this, &SettingsForm::followState);
  rebuildDisplays();
  reload();
  followState();
}

void SettingsForm::showGlobalKeys(bool available) {
  startKeyHint_->setVisible(available);
  bindKeysHint_->setVisible(!available);
}

QWidget* SettingsForm::titledRow(const QString& title, QWidget* control) {
  auto* row = new QWidget(this);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(kRowSpacing);
  QLabel* label = secondaryLabel(title, row);
  label->setFixedWidth(kRowTitleWidth);
  layout->addWidget(label);
  control->setParent(row);
  layout->addWidget(control, 1);
  return row;
}

QWidget* SettingsForm::sliderRow(const QString& title, QSlider* slider) {
  auto* row = new QWidget(slider->parentWidget());
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(kRowSpacing);
  auto* label = new QLabel(title, row);
  label->setFixedWidth(kSliderTitleWidth);
  layout->addWidget(label);
  slider->setParent(row);
  slider->setRange(0, kSliderSteps);
  slider->setSingleStep(kSliderSteps / 100);
  slider->setPageStep(kSliderSteps / 10);
  layout->addWidget(slider, 1);
  return row;
}

void SettingsForm::buildCustomSizeRow() {
  customRow_ = new QWidget(this);
  auto* layout = new QHBoxLayout(customRow_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(8);
  layout->addStretch(1);
  const auto makeField = [this](const QString& placeholder) {
    auto* field = new QLineEdit(customRow_);
    field->setPlaceholderText(placeholder);
    field->setFixedWidth(kNumberFieldWidth);
    field->setAlignment(Qt::AlignCenter);
    return field;
  };
  widthField_ = makeField(QStringLiteral("W"));
  heightField_ = makeField(QStringLiteral("H"));
  layout->addWidget(widthField_);
  layout->addWidget(secondaryLabel(QStringLiteral("×"), customRow_));
  layout->addWidget(heightField_);
  layout->addWidget(secondaryLabel(QStringLiteral("px"), customRow_));

  connect(widthField_, &QLineEdit::editingFinished, this,
          [this] { storeCustomSize(widthField_, Prefs::kCustomWidth); });
  connect(heightField_, &QLineEdit::editingFinished, this,
          [this] { storeCustomSize(heightField_, Prefs::kCustomHeight); });
}

void SettingsForm::storeCustomSize(QLineEdit* field, const char* key) {
  bool ok = false;
  const qlonglong typed = numberLocale().toLongLong(field->text().trimmed(), &ok);
  // Like an observer of the stored value, this acts only on a change: an out-of-range value
  // written by other means stays until the user edits it here.
  if (ok && typed != Prefs::integer(key)) {
    Prefs::set(key, static_cast<qlonglong>(Prefs::clampedCustomSize(typed)));
  }
  showCustomSize(field, key);  // a text that is not a number falls back to the stored value
}

void SettingsForm::showCustomSize(QLineEdit* field, const char* key) {
  const QString text = numberLocale().toString(static_cast<qlonglong>(Prefs::integer(key)));
  if (field->text() != text) field->setText(text);
}

void SettingsForm::rebuildDisplays() {
  displayPicker_->clear();
  if (controller_.captureGrant() == DesktopServices::CaptureGrant::portal) {
    // The desktop's dialog picks the screen, and only it can pick another.
    const QString chosen = QStringLiteral("The screen you chose when you allowed recording");
    displayPicker_->addItem(chosen);
    displayPicker_->setItemData(0, chosen, Qt::ToolTipRole);
    displayPicker_->addItem(QStringLiteral("Change\u2026"));
    displayPicker_->setCurrentIndex(0);
    displayRow_->setVisible(true);
    return;
  }
  const std::vector<DisplayInfo> displays = controller_.displays();
  displayPicker_->addItem(QStringLiteral("Main display"), qlonglong{0});
  for (const DisplayInfo& display : displays) {
    // As display settings name a monitor: its connector and its size in pixels.
    const QString text = QStringLiteral("%1 (%2 × %3)")
                             .arg(QString::fromStdString(display.name))
                             .arg(std::lround(display.frame.width() * display.scale))
                             .arg(std::lround(display.frame.height() * display.scale));
    displayPicker_->addItem(text, static_cast<qlonglong>(display.id));
  }
  displayRow_->setVisible(displays.size() >= 2);
  displayPicker_->setCurrentIndex(
      displayPicker_->findData(static_cast<qlonglong>(Prefs::integer(Prefs::kDisplayID))));
}

void SettingsForm::reload() {
  reloading_ = true;
  const QString preset = Prefs::preset();
  sizePicker_->setValue(preset);
  customRow_->setVisible(preset == QLatin1String(Prefs::kCustom));
  showCustomSize(widthField_, Prefs::kCustomWidth);
  showCustomSize(heightField_, Prefs::kCustomHeight);
  fpsPicker_->setValue(static_cast<qint64>(Prefs::integer(Prefs::kFps)));
  if (controller_.captureGrant() == DesktopServices::CaptureGrant::display)
    displayPicker_->setCurrentIndex(
        displayPicker_->findData(static_cast<qlonglong>(Prefs::integer(Prefs::kDisplayID))));
  setSliderValue(smoothness_, Prefs::real(Prefs::kSmoothing), kSmoothingMax);
  setSliderValue(deadZone_, Prefs::real(Prefs::kDeadZone), kDeadZoneMax);
  // Where clicks cannot be seen, the row says why and shows no rings coming; the preference stays.
  const QString clicksProblem = controller_.clickIndicatorProblem();
  clicks_->setEnabled(clicksProblem.isEmpty());
  clicks_->setChecked(clicksProblem.isEmpty() && Prefs::boolean(Prefs::kClicks));
  clicksNote_->setText(clicksProblem);
  clicksNote_->setVisible(!clicksProblem.isEmpty());
  reloading_ = false;
  reloadFolder();
}

void SettingsForm::reloadFolder() {
  const QString path = Prefs::string(Prefs::kOutputPath).value_or(Prefs::defaultFolder());
  folderName_->setText(lastPathComponent(path));
  folderRow_->setToolTip(path);
}

void SettingsForm::followState() {
  start_->setEnabled(controller_.state().isIdle());
}

}  // namespace kestrova
