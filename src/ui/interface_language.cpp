// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/interface_language.h"

#include <QCoreApplication>
#include <QStringList>

QString InterfaceLanguage::ForLocale(const QLocale& locale) {
  const QStringList wanted = locale.uiLanguages();
  return !wanted.isEmpty() && wanted.first().startsWith(QStringLiteral("zh"))
             ? QStringLiteral("zh")
             : QStringLiteral("en");
}

bool InterfaceLanguage::Install(const QString& language) {
  Remove();
  if (language == QStringLiteral("zh")) return true;
  if (!translator.load(QStringLiteral(":/i18n/kestro_%1.qm").arg(language))) return false;
  installed = QCoreApplication::installTranslator(&translator);
  return installed;
}

void InterfaceLanguage::Remove() {
  if (installed) QCoreApplication::removeTranslator(&translator);
  installed = false;
}
