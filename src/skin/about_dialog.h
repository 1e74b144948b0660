// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QDialog>

// The About box: the program's icon, name and version, a copyright line and
// where to reach the project. Not skinned.
class AboutDialog : public QDialog {
 public:
  Q_DECLARE_TR_FUNCTIONS(AboutDialog)

 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};
