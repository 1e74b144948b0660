// SPDX-License-Identifier: GPL-3.0-or-later
#include "skin/about_dialog.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "skin/skin_art.h"

namespace {

// Dialog units of the layout to pixels.
QRect Du(int x, int y, int w, int h) {
  auto px = [](int du) { return (du * 3 + 1) / 2; };
  return QRect(px(x), px(y), px(w), px(h));
}

QLabel* Text(QWidget* parent, const QString& text, const QRect& where) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(where);
  return label;
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("关于Kestro"));
  setFixedSize(Du(0, 0, 143, 71).size());
  QFont font(QStringLiteral("WenQuanYi Micro Hei"));
  font.setPixelSize(12);
  setFont(font);

  auto* ok = new QPushButton(tr("确定"), this);
  ok->setGeometry(Du(111, 3, 32, 12));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* icon = new QLabel(this);
  icon->setGeometry(Du(2, 3, 20, 20));
  icon->setPixmap(QPixmap::fromImage(DrawKestroIcon(30)));

  Text(this, QStringLiteral("Kestro1.0"), Du(29, 4, 44, 10));
  Text(this, tr("© 2026 Kestro项目组"), Du(26, 16, 79, 11));
  Text(this, tr("作者：Kestro项目组"), Du(6, 29, 71, 10));
  Text(this, tr("反馈：项目的问题跟踪"), Du(7, 41, 102, 10));
  Text(this, tr("交流：问题跟踪区"), Du(7, 55, 72, 10));
}
