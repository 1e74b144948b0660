// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocale>
#include <QString>
#include <QTranslator>

// The language of the window's words. They are written in Chinese, which needs
// no translation; English comes from the translation built into the program.
class InterfaceLanguage {
 public:
  // "zh" when the locale's first language is Chinese, otherwise "en".
  static QString ForLocale(const QLocale& locale);
  // Puts language ("zh" or "en") into effect for the widgets made from now on;
  // false when the translation could not be loaded.
  bool Install(const QString& language);
  // Back to the words as written.
  void Remove();

 private:
  QTranslator translator;
  bool installed = false;
};
