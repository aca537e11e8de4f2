#pragma once

#include <QAbstractButton>
#include <QString>
#include <QWidget>

namespace kestrova {

// A header with a disclosure triangle and a title that shows and hides its content. Starts
// collapsed.
class DisclosureGroup : public QWidget {
  Q_OBJECT

 public:
  DisclosureGroup(const QString& title, QWidget* content, QWidget* parent = nullptr);

  void setExpanded(bool expanded);
  bool isExpanded() const { return expanded_; }
  QAbstractButton* header() const { return header_; }
  QWidget* content() const { return content_; }

 signals:
  void expandedChanged(bool expanded);

 private:
  QAbstractButton* header_;
  QWidget* content_;
  bool expanded_ = false;
};

}  // namespace kestrova
