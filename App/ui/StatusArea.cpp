#include "StatusArea.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "AppController.h"
#include "FormControls.h"
#include "Theme.h"

namespace kestrova {
namespace {

constexpr int kGlyphSize = 13;

QLabel* coloured(QLabel* label, const QColor& color) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
  label->setFont(theme::font(theme::kCaptionSize));
  return label;
}

}  // namespace

StatusArea::StatusArea(AppController& controller, QWidget* parent)
    : QWidget(parent), controller_(controller) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  saving_ = new QLabel(QStringLiteral("Saving\u2026"), this);
  saving_->setFont(theme::font(theme::kCaptionSize));
  column->addWidget(saving_);

  messageRow_ = new QWidget(this);
  auto* messageLayout = new QHBoxLayout(messageRow_);
  messageLayout->setContentsMargins(0, 0, 0, 0);
  messageLayout->setSpacing(6);
  messageLayout->addWidget(new GlyphView(Glyph::warning, kGlyphSize, theme::orange(), messageRow_),
                           0, Qt::AlignTop);
  message_ = coloured(new QLabel(messageRow_), theme::orange());
  message_->setWordWrap(true);
  message_->setTextFormat(Qt::PlainText);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  messageLayout->addWidget(message_, 1);
  column->addWidget(messageRow_);

  savedRow_ = new QWidget(this);
  auto* savedLayout = new QHBoxLayout(savedRow_);
  savedLayout->setContentsMargins(0, 0, 0, 0);
  savedLayout->setSpacing(6);
  savedLayout->addWidget(new GlyphView(Glyph::check, kGlyphSize, theme::green(), savedRow_));
  saved_ = coloured(new QLabel(QStringLiteral("Saved"), savedRow_), theme::green());
  savedLayout->addWidget(saved_);
  savedLayout->addStretch(1);
  reveal_ = new LinkButton(QStringLiteral("Show in Folder"), savedRow_);
  reveal_->setFont(theme::font(theme::kCaptionSize));
  savedLayout->addWidget(reveal_);
  column->addWidget(savedRow_);

  connect(reveal_, &QAbstractButton::clicked, this, [this] { controller_.reveal(); });
  connect(&controller_, &AppController::messageChanged, this, &StatusArea::refresh);
  connect(&controller_, &AppController::savingChanged, this, &StatusArea::refresh);
  connect(&controller_, &AppController::lastSavedChanged, this, &StatusArea::refresh);
  refresh();
}

void StatusArea::refresh() {
  if (controller_.isSaving()) {
    shows_ = Shows::saving;
  } else if (!controller_.message().isNull()) {
    shows_ = Shows::message;
    message_->setText(controller_.message());
  } else if (!controller_.lastSaved().isNull()) {
    shows_ = Shows::saved;
  } else {
    shows_ = Shows::nothing;
  }
  saving_->setVisible(shows_ == Shows::saving);
  messageRow_->setVisible(shows_ == Shows::message);
  savedRow_->setVisible(shows_ == Shows::saved);
  // Hidden, the area takes no room and no spacing in the form.
  setVisible(shows_ != Shows::nothing);
}

}  // namespace kestrova
