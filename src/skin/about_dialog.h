#pragma once

#include <QDialog>

// The About box: the program's icon, name and version, a copyright line and
// where to reach the project. Not skinned.
class AboutDialog : public QDialog {
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};
