#include "Onboarding.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "AppController.h"
#include "FormControls.h"
#include "Theme.h"

namespace kestrova {

QString Onboarding::explanation(DesktopServices::CaptureGrant grant) {
  if (grant == DesktopServices::CaptureGrant::portal)
    return QStringLiteral(
        "Kestrova needs permission to see your screen. Everything stays on your computer.\n\n"
        "Your desktop will ask which screen Kestrova may record. It remembers your choice, so "
        "it asks only once.");
  return QStringLiteral(
      "Kestrova needs permission to see your screen. Everything stays on your computer.\n\n"
      "Kestrova records X11 desktops. Log in to an X11 session (for example \u201CGNOME on "
      "Xorg\u201D on the login screen), then come back. You may need to reopen the app.");
}

Onboarding::Onboarding(AppController& controller, QWidget* parent)
    : QWidget(parent), controller_(controller) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  column->setSpacing(kSpacing);

  column->addWidget(new GlyphView(Glyph::record, 44, theme::red(), this), 0, Qt::AlignHCenter);

  auto* title = new QLabel(QStringLiteral("Allow Screen Recording"), this);
  title->setFont(theme::font(18, QFont::DemiBold));
  title->setAlignment(Qt::AlignCenter);
  column->addWidget(title);

  const bool portal = controller_.captureGrant() == DesktopServices::CaptureGrant::portal;
  explanation_ = secondaryLabel(explanation(controller_.captureGrant()), this);
  explanation_->setFont(theme::font(theme::kCalloutSize));
  explanation_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  explanation_->setWordWrap(true);
  explanation_->setFixedWidth(kTextWidth);
  explanation_->setTextFormat(Qt::PlainText);
  column->addWidget(explanation_);

  openSettings_ = new ProminentButton(palette().color(QPalette::Highlight), 32, this);
  auto* openText = new QLabel(
      portal ? QStringLiteral("Choose Screen\u2026") : QStringLiteral("Open System Settings"),
      openSettings_);
  openText->setFont(theme::font(theme::kBodySize));
  openText->setAttribute(Qt::WA_TransparentForMouseEvents);
  openSettings_->contentLayout()->addWidget(openText);
  openSettings_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  column->addWidget(openSettings_, 0, Qt::AlignHCenter);

  checkAgain_ = new LinkButton(QStringLiteral("Check Again"), this);
  column->addWidget(checkAgain_, 0, Qt::AlignHCenter);

  if (portal) {
    problem_ = secondaryLabel(QString(), this);
    problem_->setFont(theme::font(theme::kCalloutSize));
    problem_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    problem_->setWordWrap(true);
    problem_->setFixedWidth(kTextWidth);
    problem_->setTextFormat(Qt::PlainText);
    problem_->hide();
    column->addWidget(problem_);
    connect(&controller_, &AppController::messageChanged, this, [this](const QString& message) {
      problem_->setText(message);
      problem_->setVisible(!message.isEmpty());
    });
  }

  connect(openSettings_, &QAbstractButton::clicked, this,
          [this] { controller_.requestPermission(); });
  connect(checkAgain_, &QAbstractButton::clicked, this,
          [this] { controller_.refreshPermission(); });
}

}  // namespace kestrova
