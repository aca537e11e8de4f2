#include "MainView.h"

#include <QGuiApplication>
#include <QVBoxLayout>

#include "AppController.h"
#include "Onboarding.h"
#include "SettingsForm.h"

namespace kestrova {

MainView::MainView(AppController& controller, QWidget* parent)
    : QWidget(parent),
      controller_(controller),
      form_(new SettingsForm(controller, this)),
      onboarding_(new Onboarding(controller, this)) {
  setFixedWidth(kWidth);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(form_);
  column->addWidget(onboarding_);

  connect(&controller_, &AppController::hasPermissionChanged, this, &MainView::followPermission);
  connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
          [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive) controller_.refreshPermission();
          });
  followPermission();
}

void MainView::followPermission() {
  const bool granted = controller_.hasPermission();
  form_->setVisible(granted);
  onboarding_->setVisible(!granted);
}

}  // namespace kestrova
