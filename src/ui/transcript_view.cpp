// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/transcript_view.h"

#include <algorithm>

TranscriptView::TranscriptView(QWidget* parent) : QListWidget(parent) {
  setWordWrap(true);
  setTextElideMode(Qt::ElideNone);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    const int index = row(item);
    if (onChosen && index >= 0 && index < static_cast<int>(sentences.size())) onChosen(index);
  });
}

void TranscriptView::SetSentences(const std::vector<Sentence>& list, uint32_t rate) {
  sentences = list;
  byteRate = rate;
  followed = 0;
  note.clear();
  Fill();
}

void TranscriptView::SetNote(const QString& text) {
  note = text;
  if (sentences.empty()) Fill();
}

void TranscriptView::SetTextHidden(bool hidden) {
  if (textHidden == hidden) return;
  textHidden = hidden;
  Fill();
}

QString TranscriptView::TextOf(int number) const {
  if (number < 1 || number > static_cast<int>(sentences.size())) return QString();
  return QString::fromStdString(sentences[static_cast<size_t>(number - 1)].text);
}

void TranscriptView::Fill() {
  clear();
  if (sentences.empty()) {
    addItem(note.isEmpty() ? tr("没有字幕：把同名的 .lrc、.srt 或 .vtt 文件放在课文旁边") : note);
    item(0)->setFlags(Qt::ItemIsEnabled);
    return;
  }
  for (size_t i = 0; i < sentences.size(); ++i) {
    const Sentence& s = sentences[i];
    // The line's own time, as the transcript gives it, not its padded start.
    const uint32_t seconds = byteRate > 0 ? std::max(s.start, s.spoken) / byteRate : 0;
    const QString time =
        QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    // Sentences found in the sound itself have no words: their number and length.
    const double length = byteRate > 0 ? static_cast<double>(s.end - s.start) / byteRate : 0;
    const QString words = s.text.empty() ? tr("第 %1 句（%2 秒）").arg(i + 1).arg(length, 0, 'f', 1)
                          : textHidden ? QStringLiteral("……")
                                       : QString::fromStdString(s.text);
    addItem(time + QStringLiteral("  ") + QString(words).replace(QLatin1Char('\n'), ' '));
  }
  if (followed > 0) setCurrentRow(followed - 1);
}

void TranscriptView::Follow(int number) {
  if (number == followed || sentences.empty()) return;
  followed = number;
  if (number < 1 || number > count()) {
    setCurrentRow(-1);
    return;
  }
  setCurrentRow(number - 1);
  scrollToItem(item(number - 1), QAbstractItemView::PositionAtCenter);
}
